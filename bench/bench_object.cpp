// What a handle costs: a method called through a handle (empty-handle check, forward, block
// trace with tracing off) against the same body method called directly.
#include <benchmark/benchmark.h>

#include "QmSecCore/Object.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"
#include "bench/support/RatioMain.h"

namespace {

using QmSecCoreTrc::kCoreArea;

class CounterImpl : public QmSecCore::ObjectImpl {
  public:
    QMSEC_DESTROY_THIS(kCoreArea.proc, "CounterImpl::DestroyThis()")
    __attribute__((noinline)) int Add(int n) {
        QMSEC_BLOCK(kCoreArea.proc, "CounterImpl::Add()");
        total_ += n;
        return total_;
    }

  private:
    int total_ = 0;
};

class Counter : public QmSecCore::Object {
  public:
    Counter() : Object(new CounterImpl) {}
    __attribute__((noinline)) int Add(int n) const {
        return GetBody<CounterImpl>("Counter")->Add(n);
    }
    CounterImpl* Body() const { return GetBody<CounterImpl>("Counter"); }
};

void BM_MethodCall_Baseline(benchmark::State& state) {
    Counter c;
    CounterImpl* body = c.Body();
    int n = 1;
    for (auto _ : state) benchmark::DoNotOptimize(body->Add(n));
}

void BM_MethodCall_Library(benchmark::State& state) {
    Counter c;
    int n = 1;
    for (auto _ : state) benchmark::DoNotOptimize(c.Add(n));
}

BENCHMARK(BM_MethodCall_Baseline)->Name("BM_MethodCall/Baseline");
BENCHMARK(BM_MethodCall_Library)->Name("BM_MethodCall/Library");

}  // namespace

QMSEC_BENCHMARK_MAIN()
