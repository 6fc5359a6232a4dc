#include "bench/diskstats_bench.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

long PreadWholeFile(int fd, std::vector<char>& buffer) {
  if (buffer.empty()) buffer.resize(4096);
  std::size_t filled = 0;
  for (;;) {
    if (filled == buffer.size()) buffer.resize(buffer.size() * 2);
    const ssize_t got = pread(fd, buffer.data() + filled, buffer.size() - filled, static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) return static_cast<long>(filled);
    filled += static_cast<std::size_t>(got);
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

// The Linux edition's poll (read, parse, walk, scale, diagnostic lines off)
// belongs here, beside its floor: BENCHMARK(BM_LinuxPoll) reading through the
// edition's counter source; the reporter then prints its multiple of the floor.

}  // namespace
