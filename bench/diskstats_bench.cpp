#include "bench/diskstats_bench.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

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
  CDiskTooltip tooltip("gleamo");
  std::uint64_t now = 0;
  ActivitySample previous = 0;
  IconCode code = 18;
  for (auto _ : state) {
    const ActivitySample total = PollDiskCounters(source, counterScale, nullptr);
    code = MakeIconCode(settings, total, previous, counterScale.readHeight, counterScale.writeHeight, code);
    previous = total;
    // The tooltip's look at the clock, and its refresh once a second.
    now += 150'000;
    benchmark::DoNotOptimize(tooltip.Refresh(source, now));
    benchmark::DoNotOptimize(code);
  }
}
BENCHMARK(BM_LinuxTickWithoutRepaint);

// One tooltip refresh that finds new counters: the rates of two disks and
// their total worked out and written. Two sources on scripted files of two
// busy disks, each a second's work apart, take turns.
void BM_TooltipRefresh(benchmark::State& state) {
  char directory[] = "/tmp/gleamo-bench-XXXXXX";
  if (mkdtemp(directory) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string first = std::string(directory) + "/first";
  const std::string second = std::string(directory) + "/second";
  const auto write = [](const std::string& path, int step) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return;
    std::fprintf(file, "   8       0 sda 4500 0 %d 0 2300 0 %d 0 0 %d 0\n", 361234 + step * 24023, 98765 + step * 781,
                 4300 + step * 350);
    std::fprintf(file, " 259       0 nvme0n1 900 0 %d 0 100 0 %d 0 0 %d 0\n", 1000 + step * 2, 500 + step * 90000,
                 100 + step * 120);
    std::fclose(file);
  };
  write(first, 0);
  write(second, 1);
  CDiskStatsSource sources[2] = {{first, directory}, {second, directory}};
  PollTotals totals;
  for (CDiskStatsSource& source : sources) {
    source.CountOnly({"sda", "nvme0n1"});
    if (!source.Open() || !source.Read(totals, nullptr)) state.SkipWithError("cannot read the scripted files");
  }
  std::remove(first.c_str());
  std::remove(second.c_str());
  rmdir(directory);
  CDiskTooltip tooltip("gleamo");
  std::uint64_t now = 0;
  for (auto _ : state) {
    now += CDiskTooltip::REFRESH_USEC;
    benchmark::DoNotOptimize(tooltip.Refresh(sources[now / CDiskTooltip::REFRESH_USEC % 2], now));
  }
  state.counters["bytes"] = static_cast<double>(tooltip.Text().size());
}
BENCHMARK(BM_TooltipRefresh);

}  // namespace
