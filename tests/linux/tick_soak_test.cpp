// A long scripted day through the Linux edition's tick: the counters are
// written as a diskstats file (two physical disks, a partition and a loop
// device that must not count), read back by the real counter source, scaled,
// and turned into icon codes, 100,000 times. The process must not grow: no
// resident memory and no descriptor piles up, and every code stays within
// its style's range.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "app/display_settings.h"
#include "app/icon_code.h"
#include "linux/disk_stats.h"
#include "tests/activity/scripted_totals.h"
#include "tray/icon_raster.h"

namespace {

constexpr int TICKS = 100000;
constexpr int WARM_UP_TICKS = 1000;  // buffers and the device memory are in place by then

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

int OpenDescriptors() {
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(directory)) count += entry->d_name[0] != '.';
  closedir(directory);
  return count - 1;  // the directory's own descriptor
}

class LinuxTickSoak : public testing::Test {
 protected:
  std::string root;
  std::string statsPath;
  std::string blockRoot;
  int statsFd = -1;

  void SetUp() override {
    char pattern[] = "/tmp/gleamo-tick-soak-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    statsPath = root + "/diskstats";
    blockRoot = root + "/block";
    for (const char* directory : {"", "/sda", "/sda/device", "/nvme0n1", "/nvme0n1/device", "/loop0"}) {
      ASSERT_EQ(mkdir((blockRoot + directory).c_str(), 0755), 0) << directory;
    }
    statsFd = open(statsPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    ASSERT_GE(statsFd, 0);
    counterScale = CounterScale{};
  }
  void TearDown() override {
    if (statsFd >= 0) close(statsFd);
    std::system(("rm -rf '" + root + "'").c_str());
    counterScale = CounterScale{};
  }

  // The file as the kernel would show it now, rewritten in place under the
  // source's open descriptor. The 64-bit counters of sda climb past 2^32 as
  // a kernel's do; the sums the walk takes modulo 2^32 are the script's.
  void WriteStats(std::uint64_t sdaReads, std::uint64_t sdaWrites, std::uint32_t nvmeReads, std::uint32_t nvmeWrites) {
    char text[1024];
    const int length = std::snprintf(text, sizeof text,
                                     "   7       0 loop0 900000 0 7200 10 900000 0 0 0 0 12 10 0 0 0 0 0 0\n"
                                     "   8       0 sda %" PRIu64 " 11 3000 40 %" PRIu64
                                     " 12 4000 50 0 60 70 0 0 0 0 5 6\n"
                                     "   8       1 sda1 123456 0 0 0 654321 0 0 0 0 0 0 0 0 0 0 0 0\n"
                                     " 259       0 nvme0n1 %" PRIu32 " 0 0 0 %" PRIu32 " 0 0 0 0 0 0 0 0 0 0 0 0\n",
                                     sdaReads, sdaWrites, nvmeReads, nvmeWrites);
    ASSERT_GT(length, 0);
    ASSERT_EQ(pwrite(statsFd, text, static_cast<std::size_t>(length), 0), length);
    ASSERT_EQ(ftruncate(statsFd, length), 0);
  }
};

TEST_F(LinuxTickSoak, HundredThousandTicksOnAScriptedFileKeepMemoryDescriptorsAndCodesInBounds) {
  std::FILE* const devNull = std::fopen("/dev/null", "w");  // the printed lines, now and then
  ASSERT_NE(devNull, nullptr);
  CDiskStatsSource source(statsPath, blockRoot);
  ScriptedTotals day(20261208);
  std::uint64_t readHigh = 0, writeHigh = 0;  // the kernel's counters above 32 bits
  std::uint32_t lastRead = 0, lastWrite = 0;
  ActivitySample previous = 0;
  IconCode bar = 0, chars = 0, symbol = 0;
  long residentAfterWarmUp = 0;
  int descriptorsAfterWarmUp = 0;
  int wraps = 0, resets = 0;

  for (int tick = 0; tick < TICKS; ++tick) {
    const ScriptedPoll poll = day.Next();
    if (poll.event == ScriptedPoll::Event::Busy) {
      readHigh += poll.readTotal < lastRead;
      writeHigh += poll.writeTotal < lastWrite;
    }
    lastRead = poll.readTotal;
    lastWrite = poll.writeTotal;
    // nvme0n1 takes a share that moves on its own; sda carries the rest.
    const std::uint32_t nvmeReads = static_cast<std::uint32_t>(tick) * 7u;
    const std::uint32_t nvmeWrites = static_cast<std::uint32_t>(tick) * 3u;
    WriteStats((readHigh << 32) | static_cast<std::uint32_t>(poll.readTotal - nvmeReads),
               (writeHigh << 32) | static_cast<std::uint32_t>(poll.writeTotal - nvmeWrites), nvmeReads, nvmeWrites);

    std::FILE* const out = tick % 100 == 0 ? devNull : nullptr;
    const ActivitySample sample =
        tick == 0 ? ConnectAndPoll(source, counterScale, out, out) : PollDiskCounters(source, counterScale, out);
    const bool changed = sample != previous;
    const ColorCode color = COLOR_RED + tick % 8;
    const std::uint32_t readHeight = counterScale.readHeight;
    const std::uint32_t writeHeight = counterScale.writeHeight;
    bar = MakeIconCode(Style(true, false, false, color), sample, previous, readHeight, writeHeight, bar);
    chars = MakeIconCode(Style(false, true, false, color), sample, previous, readHeight, writeHeight, chars);
    symbol = MakeIconCode(Style(false, false, true, color), sample, previous, readHeight, writeHeight, symbol);
    previous = sample;

    ASSERT_EQ(static_cast<std::uint32_t>(sample), poll.readTotal + poll.writeTotal) << "tick " << tick;
    if (tick > 0) {
      ASSERT_EQ(counterScale.readDelta, poll.readGrowth) << "tick " << tick;
      ASSERT_EQ(counterScale.writeDelta, poll.writeGrowth) << "tick " << tick;
    }
    for (const std::uint32_t height : {readHeight, writeHeight}) {
      ASSERT_TRUE(height == 0 || (height >= 2 && height <= 15)) << "tick " << tick << " height " << height;
    }
    ASSERT_EQ(IconStyleOf(bar), IconStyle::Bar) << bar;
    const BarCode decoded = DecodeBarCode(bar);
    ASSERT_EQ(decoded.color, color);
    ASSERT_EQ(decoded.readHeight, static_cast<int>(readHeight));
    ASSERT_EQ(decoded.writeHeight, static_cast<int>(writeHeight));
    ASSERT_EQ(chars, changed ? color + 100 : CHAR_IDLE) << "tick " << tick;
    ASSERT_EQ(symbol, changed ? color : SYMBOL_IDLE) << "tick " << tick;

    wraps += poll.wrapped;
    resets += poll.event == ScriptedPoll::Event::Reset;
    if (tick == WARM_UP_TICKS) {
      residentAfterWarmUp = ResidentKilobytes();
      descriptorsAfterWarmUp = OpenDescriptors();
    }
  }
  const long residentAtEnd = ResidentKilobytes();
  const int descriptorsAtEnd = OpenDescriptors();
  std::fclose(devNull);
  std::printf("%d ticks: %d wraps, %d resets; VmRSS %ld kB after %d ticks, %ld kB at the end; %d descriptors\n", TICKS,
              wraps, resets, residentAfterWarmUp, WARM_UP_TICKS, residentAtEnd, descriptorsAtEnd);

  EXPECT_GE(wraps, 20);
  EXPECT_GE(resets, 90);
  EXPECT_GT(readHigh, 0u);  // the file's own counters passed 2^32
  ASSERT_GT(residentAfterWarmUp, 0);
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer's own bookkeeping adds a byte or two of resident
  // memory a tick with nothing allocated by the tick (gone with its
  // quarantine off): here LeakSanitizer at exit is the leak check.
#else
  // A few pages of slack for the allocator's and the runtime's own moods;
  // a leak of even a few bytes a tick would be hundreds of kilobytes by now.
  EXPECT_LE(residentAtEnd - residentAfterWarmUp, 64);
#endif
  EXPECT_EQ(descriptorsAtEnd, descriptorsAfterWarmUp);
  EXPECT_GT(descriptorsAfterWarmUp, 0);
}

}  // namespace
