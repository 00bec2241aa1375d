// A benchmark main that also prints ratios of paired benchmarks measured in the same run.
//
// Name pairs "<Case>/Baseline" and "<Case>/Library" (any further "/args" suffix is kept in the
// case), for example BM_Sha1Update/Baseline/16384 and BM_Sha1Update/Library/16384. After the
// normal console output a table gives, per case, Library time / Baseline time, so goals such as
// "within 5%" read off directly. The time is the one the benchmark is measured by: wall time for
// those that use real time (work spread over threads), CPU time otherwise. With repetitions the
// "min" aggregate counts when the benchmark computes one (see MinOfRepetitions: the least
// disturbed repetition on a shared machine), otherwise the mean.
//
// Further comparisons between any two benchmarks of the run (say resumed against full
// handshakes) are registered with Compare before main runs.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qmsec_bench {

// Adds the "min" statistic to a benchmark's repetitions: ->Apply(qmsec_bench::MinOfRepetitions).
inline void MinOfRepetitions(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

struct Comparison {
    std::string label, numerator, denominator;  // benchmark names without the time-type suffix
};

inline std::vector<Comparison>& Comparisons() {
    static std::vector<Comparison> comparisons;
    return comparisons;
}

// Prints label: time of numerator / time of denominator at the end of the run. Returns a value
// so that it can initialise a namespace-scope variable.
inline bool Compare(std::string label, std::string numerator, std::string denominator) {
    Comparisons().push_back({std::move(label), std::move(numerator), std::move(denominator)});
    return true;
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred) continue;
            // With repetitions only an aggregate counts: "min" over "mean"; without, every run.
            int rank = 0;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "min")
                    rank = 2;
                else if (run.aggregate_name == "mean")
                    rank = 1;
                else
                    continue;
            }
            std::string name = run.run_name.function_name + ArgsOf(run);
            double time = run.run_name.time_type == "real_time" ? run.GetAdjustedRealTime()
                                                                : run.GetAdjustedCPUTime();
            auto [it, added] = times_.try_emplace(name, rank, time);
            if (!added && rank >= it->second.first) it->second = {rank, time};
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const auto& [name, lib] : times_) {
            size_t at = name.find("/Library");
            if (at == std::string::npos) continue;
            auto base = times_.find(name.substr(0, at) + "/Baseline" + name.substr(at + 8));
            if (base == times_.end() || base->second.second <= 0) continue;
            if (!header) std::printf("\n%-60s %12s\n", "case", "lib/base");
            header = true;
            std::printf("%-60s %12.3f\n", (name.substr(0, at) + name.substr(at + 8)).c_str(),
                        lib.second / base->second.second);
        }
        for (const auto& c : Comparisons()) {
            auto n = times_.find(c.numerator), d = times_.find(c.denominator);
            if (n == times_.end() || d == times_.end() || d->second.second <= 0) continue;
            std::printf("%-60s %12.3f\n", c.label.c_str(), n->second.second / d->second.second);
        }
    }

  private:
    // The "/arg/…" part of a run's name, without the time type and repetition markers.
    static std::string ArgsOf(const Run& run) {
        std::string args;
        if (!run.run_name.args.empty()) args += "/" + run.run_name.args;
        if (!run.run_name.min_time.empty()) args += "/" + run.run_name.min_time;
        if (!run.run_name.iterations.empty()) args += "/" + run.run_name.iterations;
        return args;
    }

    std::map<std::string, std::pair<int, double>> times_;  // name -> (rank, time)
};

}  // namespace qmsec_bench

#define QMSEC_BENCHMARK_MAIN()                                    \
    int main(int argc, char** argv) {                             \
        benchmark::Initialize(&argc, argv);                       \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) { \
            return 1;                                             \
        }                                                         \
        qmsec_bench::RatioReporter reporter;                      \
        benchmark::RunSpecifiedBenchmarks(&reporter);             \
        benchmark::Shutdown();                                    \
        return 0;                                                 \
    }
