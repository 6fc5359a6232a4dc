#include "bench/diskstats_bench.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/display_settings.h"
#include "app/icon_code.h"
#include "linux/disk_stats.h"

long PreadWholeFile(int fd, std::vector<char>& buffer) {
  if (buffer.empty()) buffer.resize(4096);
  for (;;) {
    // A proc file is generated whole on each read from offset 0, and a read
    // shorter than the buffer is its end: one system call when the buffer
    // is large enough, the least any poll of this file can do.
    const ssize_t got = pread(fd, buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (static_cast<std::size_t>(got) < buffer.size()) return static_cast<long>(got);
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

// One open descriptor for the whole run, as a poll keeps it; every
// iteration reads the file from the start again.
void BM_DiskstatsPread(benchmark::State& state) {
  const int fd = open(DISKSTATS_PATH, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    state.SkipWithError("cannot open /proc/diskstats");
    return;
  }
  std::vector<char> buffer(16384);
  long bytes = 0;
  for (auto _ : state) {
    bytes = PreadWholeFile(fd, buffer);
    benchmark::DoNotOptimize(buffer.data());
    if (bytes < 0) {
      state.SkipWithError("pread of /proc/diskstats failed");
      break;
    }
  }
  close(fd);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_DiskstatsPread);

// The Linux edition's poll as every tick but the first makes it: read the
// file, parse its lines, walk the physical disks' properties and scale the
// totals, with the diagnostic lines off (standard output on a terminal or
// /dev/null). The reporter prints its multiple of the bare read above.
void BM_LinuxPoll(benchmark::State& state) {
  CDiskStatsSource source(DISKSTATS_PATH, "/sys/block");
  if (!source.Open()) {
    state.SkipWithError("cannot open /proc/diskstats");
    return;
  }
  counterScale = CounterScale{};
  for (auto _ : state) benchmark::DoNotOptimize(PollDiskCounters(source, counterScale, nullptr));
  benchmark::DoNotOptimize(counterScale.readHeight);
}
BENCHMARK(BM_LinuxPoll);

// A whole tick short of a repaint: the poll and the icon code decision. A
// new picture is painted only when the code changes; BM_PaintIconRaster
// measures that on its own.
void BM_LinuxTickWithoutRepaint(benchmark::State& state) {
  CDiskStatsSource source(DISKSTATS_PATH, "/sys/block");
  if (!source.Open()) {
    state.SkipWithError("cannot open /proc/diskstats");
    return;
  }
  DisplaySettings settings;  // the default style: bars
  counterScale = CounterScale{};
  ActivitySample previous = 0;
  IconCode code = 18;
  for (auto _ : state) {
    const ActivitySample total = PollDiskCounters(source, counterScale, nullptr);
    code = MakeIconCode(settings, total, previous, counterScale.readHeight, counterScale.writeHeight, code);
    previous = total;
    benchmark::DoNotOptimize(code);
  }
}
BENCHMARK(BM_LinuxTickWithoutRepaint);

}  // namespace
