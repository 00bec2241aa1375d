// A benchmark main that also prints ratios of paired benchmarks measured in the same run.
//
// Name pairs "<Case>/Baseline" and "<Case>/Library" (any further "/args" suffix is kept in the
// case), for example BM_Sha1Update/Baseline/16384 and BM_Sha1Update/Library/16384. After the
// normal console output a table gives, per case, Library time / Baseline time (CPU time, or the
// mean of repetitions when repetitions are used), so goals such as "within 5%" read off directly.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace qmsec_bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred) continue;
            // With repetitions, only the mean aggregate counts; without, every plain run.
            bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "mean") continue;
            std::string name = run.benchmark_name();
            if (aggregate) name = name.substr(0, name.rfind('_'));
            for (const char* role : {"/Baseline", "/Library"}) {
                size_t at = name.find(role);
                if (at == std::string::npos) continue;
                std::string key = name.substr(0, at) + name.substr(at + std::string(role).size());
                (std::string(role) == "/Baseline" ? baseline_ : library_)[key] =
                    run.GetAdjustedCPUTime();
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (library_.empty()) return;
        std::printf("\n%-60s %12s\n", "case", "lib/base");
        for (const auto& [key, lib] : library_) {
            auto it = baseline_.find(key);
            if (it == baseline_.end() || it->second <= 0) continue;
            std::printf("%-60s %12.3f\n", key.c_str(), lib / it->second);
        }
    }

  private:
    std::map<std::string, double> baseline_, library_;
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
