// Runs gleamo's benchmarks and reports each against the floor of the run:
// a bare read of the counter file the Linux edition polls.
#include <benchmark/benchmark.h>

#include "bench/diskstats_bench.h"
#include "bench/floor_ratio_reporter.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FloorRatioReporter reporter(DISKSTATS_FLOOR_BENCHMARK);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.Failed() ? 1 : 0;
}
