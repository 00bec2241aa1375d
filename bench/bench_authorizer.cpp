// IsAllowed on a table of 10,000 consumer keys against a bare std::map lookup of the same key
// under a shared lock, and how calls scale from one thread to two.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <shared_mutex>
#include <string>

#include "AuthorizerImpl.h"
#include "QmSecAuth/Authorizer.h"
#include "bench/support/RatioMain.h"
#include "config/ConfigService.h"
#include "support/TempDir.h"

namespace {

using QmSecAuth::Authorizer;
using QmXplStr::String_t;

constexpr int kKeys = 10000;
const char* const kManager = "bbbbbbbb-0000-0000-0000-000000000002";

struct Setup {
    qmsec_test::TempDir home;
    std::map<String_t, unsigned> bare;
    std::shared_mutex lock;
    Authorizer* authorizer = nullptr;

    Setup() {
        std::string conf = std::string("[sec.core.auth]\nMANAGER_ID=") + kManager +
                           "\n[sec.core.auth.mapping.manager]\n";
        for (int i = 0; i < kKeys; ++i)
            conf += "svc.consumer." + std::to_string(i) + "=" + std::to_string(i % 7) + "\n";
        home.Write("conf/config.ini", conf);
        setenv("QMXPL_HOME", home.Path().c_str(), 1);
        QmXplConfig::ConfigService_t::ReloadAll();
        QmSecAuth::AuthorizerImpl::ResetForTesting();
        authorizer = new Authorizer;
        for (int i = 0; i < kKeys; ++i) {
            bare[String_t(std::string(kManager) + "svc.consumer." + std::to_string(i))] =
                static_cast<unsigned>(i % 7);
        }
    }
};

Setup& TheSetup() {
    static Setup* setup = new Setup;
    return *setup;
}

String_t Consumer(int i) { return String_t("svc.consumer." + std::to_string(i)); }

void IsAllowed_Baseline(benchmark::State& state) {
    Setup& s = TheSetup();
    String_t key = String_t(kManager) + Consumer(4321);
    for (auto _ : state) {
        std::shared_lock<std::shared_mutex> lock(s.lock);
        auto it = s.bare.find(key);
        benchmark::DoNotOptimize(it != s.bare.end() && (it->second & 1u) == 1u);
    }
}

void IsAllowed_Library(benchmark::State& state) {
    Setup& s = TheSetup();
    String_t entity(kManager), consumer = Consumer(4321);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            s.authorizer->IsAllowed(entity, consumer, 1u, Authorizer::CHECK_ALL));
}

// Calls from one and from two threads: compare items_per_second of the two runs.
void IsAllowedScaling(benchmark::State& state) {
    Setup& s = TheSetup();
    String_t entity(kManager), consumer = Consumer(state.thread_index() * 100 + 7);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            s.authorizer->IsAllowed(entity, consumer, 1u, Authorizer::CHECK_ALL));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(IsAllowed_Baseline)->Name("IsAllowed10k/Baseline");
BENCHMARK(IsAllowed_Library)->Name("IsAllowed10k/Library");
BENCHMARK(IsAllowedScaling)->Name("IsAllowedScaling")->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

QMSEC_BENCHMARK_MAIN()
