// The CPU time that the 4000 ms writer-mode wait costs: one real wait on the system clock.
#include <benchmark/benchmark.h>

#include "programmer/writer_mode.h"

namespace {

void BM_WriterModeWait(benchmark::State& state) {
  for (auto _ : state) fg::WaitMilliseconds(nullptr, fg::kWriterModeWaitMs);
}
BENCHMARK(BM_WriterModeWait)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
