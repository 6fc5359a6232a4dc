#include "linux/disk_stats.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/wide_output.h"

namespace {

// Lines as the kernel prints them: 14 fields before 4.18, 18 from 4.18
// (discards), 20 from 5.5 (flushes).
constexpr char LINE_14[] = "   8       0 sda 4500 120 361234 3400 2300 4100 98765 5600 0 4300 9000";
constexpr char LINE_18[] = "   8       0 sda 4500 120 361234 3400 2300 4100 98765 5600 0 4300 9000 10 2 800 3";
constexpr char LINE_20[] = "   8       0 sda 4500 120 361234 3400 2300 4100 98765 5600 0 4300 9000 10 2 800 3 50 7";

// The parsed name points into the text, which must outlive the line.
bool Parse(const char* text, DiskStatsLine& line) {
  return ParseDiskStatsLine(text, text + std::strlen(text), line);
}
bool Parse(const std::string& text, DiskStatsLine& line) {
  return ParseDiskStatsLine(text.data(), text.data() + text.size(), line);
}

TEST(DiskStatsParse, ReadsEachKernelLayout) {
  DiskStatsLine line;
  ASSERT_TRUE(Parse(LINE_14, line));
  EXPECT_EQ(line.major, 8u);
  EXPECT_EQ(line.minor, 0u);
  EXPECT_EQ(std::string(line.name, line.nameLength), "sda");
  EXPECT_EQ(line.fieldCount, 11);
  EXPECT_EQ(line.fields[0], 4500u);   // reads completed
  EXPECT_EQ(line.fields[4], 2300u);   // writes completed
  EXPECT_EQ(line.fields[10], 9000u);  // weighted time

  ASSERT_TRUE(Parse(LINE_18, line));
  EXPECT_EQ(line.fieldCount, 15);
  EXPECT_EQ(line.fields[13], 800u);

  ASSERT_TRUE(Parse(LINE_20, line));
  EXPECT_EQ(line.fieldCount, 17);
  EXPECT_EQ(line.fields[15], 50u);
  EXPECT_EQ(line.fields[16], 7u);
}

TEST(DiskStatsParse, KeepsSixtyFourBitValuesAndIgnoresFieldsOfLaterKernels) {
  DiskStatsLine line;
  ASSERT_TRUE(Parse("259 0 nvme0n1 18446744073709551615 0 0 0 4294967296 0 0 0 0 0 0\t\t", line));
  EXPECT_EQ(line.fields[0], 18446744073709551615u);
  EXPECT_EQ(line.fields[4], 4294967296u);
  const std::string longer = std::string(LINE_20) + " 1 2 3";
  ASSERT_TRUE(Parse(longer, line));
  EXPECT_EQ(line.fieldCount, 17);
  EXPECT_EQ(line.fields[16], 7u);
}

TEST(DiskStatsParse, RefusesMalformedLines) {
  DiskStatsLine line;
  for (const char* text : {
           "", "   ", "8 0", "8 0 sda",
           "8 0 sda 1 2 3 4 5 6 7 8 9 10",                                   // ten fields
           "8 0 sda 1 2 x 4 5 6 7 8 9 10 11",                                // a word among numbers
           "8 0 sda 1 2 3 4 5 6 7 8 9 10 -11",                               // a sign
           "8 0 sda 1 2 3 4 5 6 7 8 9 10 11x",                               // a number with a tail
           "8 0 sda 18446744073709551616 2 3 4 5 6 7 8 9 10 11",             // beyond 64 bits
           "x 0 sda 1 2 3 4 5 6 7 8 9 10 11",                                // no major number
           "8 0 abcdefghijklmnopqrstuvwxyz0123456 1 2 3 4 5 6 7 8 9 10 11",  // name longer than the kernel allows
           "8 4294967296 sda 1 2 3 4 5 6 7 8 9 10 11",                       // minor beyond 32 bits
       }) {
    EXPECT_FALSE(Parse(text, line)) << '"' << text << '"';
  }
}

TEST(DiskStatsParse, ReadsEveryLineOfThisMachinesFile) {
  std::ifstream file("/proc/diskstats");
  if (!file) GTEST_SKIP() << "no /proc/diskstats here";
  int lines = 0;
  for (std::string text; std::getline(file, text); ++lines) {
    DiskStatsLine line;
    ASSERT_TRUE(Parse(text, line)) << text;
    EXPECT_TRUE(line.fieldCount == 11 || line.fieldCount == 15 || line.fieldCount == 17) << text;
  }
  EXPECT_GT(lines, 0);
}

// A stand-in for /proc/diskstats and /sys/block in a temporary directory.
class DiskStatsFiles : public testing::Test {
 protected:
  std::string root;
  std::string statsPath;
  std::string blockRoot;
  std::FILE* out = std::tmpfile();
  std::FILE* warnings = std::tmpfile();

  void SetUp() override {
    char pattern[] = "/tmp/gleamo-diskstats-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    statsPath = root + "/diskstats";
    blockRoot = root + "/block";
    mkdir(blockRoot.c_str(), 0755);
    counterScale = CounterScale{};
  }
  void TearDown() override {
    std::fclose(out);
    std::fclose(warnings);
    std::system(("rm -rf '" + root + "'").c_str());
    counterScale = CounterScale{};
  }

  void AddBlockDevice(const std::string& name, bool withDevice) {
    mkdir((blockRoot + "/" + name).c_str(), 0755);
    if (withDevice) mkdir((blockRoot + "/" + name + "/device").c_str(), 0755);
  }
  // Rewrites the file in place, as the kernel's file changes under an open descriptor.
  void WriteStats(const std::string& text) {
    std::FILE* file = std::fopen(statsPath.c_str(), "r+");
    if (file == nullptr) file = std::fopen(statsPath.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(text.c_str(), file);
    std::fflush(file);
    ASSERT_EQ(ftruncate(fileno(file), static_cast<off_t>(text.size())), 0);
    std::fclose(file);
  }
  std::string Output() { return ReadWideOutput(out); }
  // What the source said on its warnings stream, which is then emptied.
  std::string TakeWarnings() {
    std::fflush(warnings);
    std::rewind(warnings);
    std::string text;
    for (int c; (c = std::fgetc(warnings)) != EOF;) text += static_cast<char>(c);
    std::rewind(warnings);
    EXPECT_EQ(ftruncate(fileno(warnings), 0), 0);
    return text;
  }
};

std::string StatsLine(const std::string& name, unsigned reads, unsigned writes) {
  std::ostringstream line;
  line << "   8       0 " << name << ' ' << reads << " 0 0 0 " << writes << " 0 0 0 0 0 0 0 0 0 0 0 0\n";
  return line.str();
}

TEST_F(DiskStatsFiles, FilterKeepsOnlyDevicesWithADeviceEntry) {
  AddBlockDevice("sda", true);
  AddBlockDevice("loop0", false);
  AddBlockDevice("device", true);  // the name "." would find a device entry here
  EXPECT_TRUE(IsPhysicalDisk(blockRoot.c_str(), "sda", 3));
  EXPECT_FALSE(IsPhysicalDisk(blockRoot.c_str(), "sda1", 4));  // partitions live below their disk
  EXPECT_FALSE(IsPhysicalDisk(blockRoot.c_str(), "loop0", 5));
  EXPECT_FALSE(IsPhysicalDisk(blockRoot.c_str(), "..", 2));
  EXPECT_FALSE(IsPhysicalDisk(blockRoot.c_str(), ".", 1));
  EXPECT_FALSE(IsPhysicalDisk(blockRoot.c_str(), "x/../sda", 8));
  EXPECT_FALSE(IsPhysicalDisk(blockRoot.c_str(), "", 0));
  EXPECT_FALSE(IsPhysicalDisk(blockRoot.c_str(), "sda\0x", 5));  // not sda, though a C path would stop there
}

TEST_F(DiskStatsFiles, SumsReadsAndWritesOfPhysicalDisksOnly) {
  AddBlockDevice("sda", true);
  AddBlockDevice("nvme0n1", true);
  AddBlockDevice("loop0", false);
  AddBlockDevice("dm-0", false);
  WriteStats(StatsLine("loop0", 1000000, 1000000) + StatsLine("sda", 100, 40) + StatsLine("sda1", 90, 30) +
             "garbage that is no line\n" + "8 1 broken 1 2\n" + StatsLine("nvme0n1", 7, 3) +
             StatsLine("dm-0", 500, 500));
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ASSERT_TRUE(source.Open());
  PollTotals scale;
  ASSERT_TRUE(source.Read(scale, nullptr));
  EXPECT_EQ(scale.readTotal, 107u);
  EXPECT_EQ(scale.writeTotal, 43u);
}

TEST_F(DiskStatsFiles, PrintsEveryPropertyOfADiskUnderItsWindowsName) {
  AddBlockDevice("sda", true);
  WriteStats(std::string(LINE_20) + "\n");
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ASSERT_TRUE(source.Open());
  PollTotals scale;
  ASSERT_TRUE(source.Read(scale, out));
  EXPECT_EQ(Output(),
            "\tDeviceName\t= sda\n"
            "\tReadCount\t= 4500\n"
            "\tReadsMerged\t= 120\n"
            "\tBytesRead\t= 184951808\n"  // 361234 sectors of 512 bytes
            "\tReadTime\t= 3400\n"
            "\tWriteCount\t= 2300\n"
            "\tWritesMerged\t= 4100\n"
            "\tBytesWritten\t= 50567680\n"
            "\tWriteTime\t= 5600\n"
            "\tQueueDepth\t= 0\n"
            "\tIoTime\t= 4300\n"
            "\tWeightedIoTime\t= 9000\n"
            "\tDiscardCount\t= 10\n"
            "\tDiscardsMerged\t= 2\n"
            "\tBytesDiscarded\t= 409600\n"
            "\tDiscardTime\t= 3\n"
            "\tFlushCount\t= 50\n"
            "\tFlushTime\t= 7\n");
}

TEST_F(DiskStatsFiles, CountsBeyondThirtyTwoBitsAddModuloTwoToThe32) {
  AddBlockDevice("sda", true);
  AddBlockDevice("sdb", true);
  WriteStats(StatsLine("sda", 4294967295u, 0) + "   8      16 sdb 4294967298 0 0 0 0 0 0 0 0 0 0\n");
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ASSERT_TRUE(source.Open());
  PollTotals scale;
  ASSERT_TRUE(source.Read(scale, nullptr));
  EXPECT_EQ(scale.readTotal, 1u);  // 0xFFFFFFFF + 2
}

TEST_F(DiskStatsFiles, EveryPollSeesTheFileAsItIsNow) {
  AddBlockDevice("sda", true);
  AddBlockDevice("loop0", false);
  WriteStats(StatsLine("sda", 100, 50) + StatsLine("loop0", 5, 5));
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ASSERT_TRUE(source.Open());
  PollTotals scale;
  ASSERT_TRUE(source.Read(scale, nullptr));
  EXPECT_EQ(scale.readTotal, 100u);

  // The same positions now hold other devices: the filter asks again.
  WriteStats(StatsLine("loop0", 7, 7) + StatsLine("sda", 200, 60));
  ASSERT_TRUE(source.Read(scale, nullptr));
  EXPECT_EQ(scale.readTotal, 200u);
  EXPECT_EQ(scale.writeTotal, 60u);

  // Far more devices than the first read had room for.
  std::string many;
  for (int i = 0; i < 400; ++i) many += StatsLine("loop0", 1, 1);
  many += StatsLine("sda", 300, 70);
  WriteStats(many);
  ASSERT_TRUE(source.Read(scale, nullptr));
  EXPECT_EQ(scale.readTotal, 300u);
  EXPECT_EQ(scale.writeTotal, 70u);
}

TEST_F(DiskStatsFiles, TicksScaleTheChangesIntoBarHeights) {
  AddBlockDevice("sda", true);
  WriteStats(StatsLine("sda", 1000, 500));
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  // The connection lines alone: the first poll's counter lines go nowhere.
  EXPECT_EQ(ConnectAndPoll(source, counterScale, out, nullptr), 1500);
  EXPECT_EQ(Output(), "Connecting to " + statsPath + "...\n\nConnected with " + statsPath + "\n");
  WriteStats(StatsLine("sda", 1010, 500));
  EXPECT_EQ(PollDiskCounters(source, counterScale, nullptr), 1510);
  EXPECT_EQ(counterScale.readHeight, 15u);
  EXPECT_EQ(counterScale.writeHeight, 0u);
  WriteStats(StatsLine("sda", 1015, 504));
  EXPECT_EQ(PollDiskCounters(source, counterScale, nullptr), 1519);
  EXPECT_EQ(counterScale.readHeight, 7u);
  EXPECT_EQ(counterScale.writeHeight, 15u);
}

TEST_F(DiskStatsFiles, ADiskThatLeavesOrJoinsMeasuresNothingOnThatTick) {
  AddBlockDevice("sda", true);
  AddBlockDevice("sdb", true);
  const auto both = [](unsigned sda, unsigned sdb) { return StatsLine("sda", sda, 0) + StatsLine("sdb", sdb, 0); };
  WriteStats(both(1000000, 5000));
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ConnectAndPoll(source, counterScale, nullptr, nullptr);
  WriteStats(both(1000100, 5000));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 15u);
  WriteStats(StatsLine("sda", 1000150, 0));  // sdb gone for exactly one tick
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  WriteStats(both(1000200, 5000));  // and back, with its lifetime count
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  WriteStats(both(1000300, 5000));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readDelta, 100u);
  EXPECT_EQ(counterScale.readMax, 100u);
  EXPECT_EQ(counterScale.readHeight, 15u);

  // A disk plugged in mid-run: its counts since it appeared are no tick's work.
  AddBlockDevice("sdc", true);
  WriteStats(both(1000350, 5000) + StatsLine("sdc", 800000, 0));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  WriteStats(both(1000400, 5000) + StatsLine("sdc", 800050, 0));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readDelta, 100u);
  EXPECT_EQ(counterScale.readMax, 100u);
}

void WriteFile(const std::string& path, const std::string& text);

// A line with the tooltip's counters: sectors read and written, I/O milliseconds.
std::string RatesLine(const std::string& name, unsigned long long read, unsigned long long written,
                      unsigned long long ioMs, unsigned reads = 0) {
  std::ostringstream line;
  line << "   8       0 " << name << ' ' << reads << " 0 " << read << " 0 0 0 " << written << " 0 0 " << ioMs << " 0\n";
  return line.str();
}

TEST_F(DiskStatsFiles, TheTooltipTellsEachDisksRatesAndBusyShareOfTheLastSecond) {
  AddBlockDevice("sda", true);
  AddBlockDevice("nvme0n1", true);
  AddBlockDevice("loop0", false);
  const auto stats = [](unsigned long long sdaRead, unsigned long long sdaWritten, unsigned long long sdaIo,
                        unsigned long long nvmeRead, unsigned long long nvmeIo) {
    return RatesLine("sda", sdaRead, sdaWritten, sdaIo) + RatesLine("loop0", sdaRead, 0, 0) +
           RatesLine("nvme0n1", nvmeRead, 0, nvmeIo);
  };
  WriteStats(stats(1000, 1000, 1000, 5000, 100));
  CDiskStatsSource source(statsPath, blockRoot);
  CDiskTooltip tooltip("gleamo");
  ConnectAndPoll(source, counterScale, nullptr, nullptr);
  // At once, the disks at rest.
  EXPECT_TRUE(tooltip.Refresh(source, 5'000'000));
  EXPECT_EQ(tooltip.Text(),
            "gleamo\n"
            "sda  read 0 B/s  write 0 B/s  busy 0 %\n"
            "nvme0n1  read 0 B/s  write 0 B/s  busy 0 %\n"
            "total  read 0 B/s  write 0 B/s");

  // 24023 sectors are 12.3 MB, 781 are 400 kB; 350 ms of the second busy.
  WriteStats(stats(1000 + 24023, 1000 + 781, 1000 + 350, 5000 + 2, 100 + 1500));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_FALSE(tooltip.Refresh(source, 5'900'000));  // at most once a second
  EXPECT_EQ(tooltip.Text().find("12.3"), std::string::npos);
  // Two seconds later, 3.9 s of the work: 1.54 GB, 1.02 kB and the busy share at most 100 %.
  WriteStats(stats(1000 + 24023 * 2, 1000 + 781 * 2, 1000 + 700, 5000 + 4, 100 + 1500 * 2));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_TRUE(tooltip.Refresh(source, 7'000'000));
  EXPECT_EQ(tooltip.Text(),
            "gleamo\n"
            "sda  read 12.3 MB/s  write 400 kB/s  busy 35 %\n"
            "nvme0n1  read 1.02 kB/s  write 0 B/s  busy 100 %\n"
            "total  read 12.3 MB/s  write 400 kB/s");
  WriteStats(stats(1000 + 24023 * 2 + 3'000'000, 1000 + 781 * 2, 1000 + 700, 5000 + 4, 100 + 3000));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_TRUE(tooltip.Refresh(source, 8'000'000));
  EXPECT_EQ(tooltip.Text(),
            "gleamo\n"
            "sda  read 1.54 GB/s  write 0 B/s  busy 0 %\n"
            "nvme0n1  read 0 B/s  write 0 B/s  busy 0 %\n"
            "total  read 1.54 GB/s  write 0 B/s");

  // Standing still: rates of 0 once, then nothing new however long.
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_TRUE(tooltip.Refresh(source, 9'000'000));
  EXPECT_EQ(tooltip.Text().find("GB/s"), std::string::npos);
  for (std::uint64_t second = 10; second < 15; ++second) {
    PollDiskCounters(source, counterScale, nullptr);
    EXPECT_FALSE(tooltip.Refresh(source, second * 1'000'000));
  }

  // Eight disks a line; the rest are counted in the total.
  std::string many;
  for (int disk = 0; disk < 10; ++disk) {
    const std::string name = "sd" + std::string(1, static_cast<char>('b' + disk));
    AddBlockDevice(name, true);
    many += RatesLine(name, 0, 0, 0);
  }
  WriteStats(many);
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_TRUE(tooltip.Refresh(source, 16'000'000));
  const std::string text = tooltip.Text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n') + 1, 1 + 8 + 2) << text;  // the title, 8 disks, 2 more, total
  EXPECT_NE(text.find("\nsdi  read 0 B/s"), std::string::npos) << text;
  EXPECT_NE(text.find("\nand 2 more\ntotal  read 0 B/s  write 0 B/s"), std::string::npos) << text;
}

TEST_F(DiskStatsFiles, NamedDisksCountPartitionsLinksAndMappedDevicesAndComeAndGoWithoutABurst) {
  AddBlockDevice("sda", true);
  AddBlockDevice("sdb", true);
  // /dev as the test has it: a link by id to the stick.
  mkdir((root + "/dev").c_str(), 0755);
  mkdir((root + "/dev/by-id").c_str(), 0755);
  WriteFile(root + "/dev/sdb", "");
  ASSERT_EQ(symlink("../sdb", (root + "/dev/by-id/usb-Stick_0001").c_str()), 0);
  EXPECT_EQ(KernelNameOf(root + "/dev/by-id/usb-Stick_0001"), "sdb");
  EXPECT_EQ(KernelNameOf("nvme0n1"), "nvme0n1");
  EXPECT_EQ(KernelNameOf(root + "/dev/by-id/usb-Gone"), "");

  const auto stats = [](unsigned sdc) {
    std::string text =
        StatsLine("sda", 900000, 0) + StatsLine("sdb", 100, 0) + StatsLine("sdb1", 40, 0) + StatsLine("dm-0", 7, 0);
    if (sdc != 0) text += StatsLine("sdc", sdc, 0);
    return text;
  };
  WriteStats(stats(0));
  CDiskStatsSource source(statsPath, blockRoot, warnings);
  source.CountOnly({"sdb1", root + "/dev/by-id/usb-Stick_0001", "dm-0", "sdc"});
  CDiskTooltip tooltip("gleamo");
  EXPECT_EQ(ConnectAndPoll(source, counterScale, nullptr, nullptr), 147);  // not sda, a whole disk not named
  tooltip.Refresh(source, 1'000'000);
  EXPECT_NE(tooltip.Text().find("\nsdb1  read"), std::string::npos);
  EXPECT_NE(tooltip.Text().find("\ndm-0  read"), std::string::npos);
  EXPECT_NE(tooltip.Text().find("\nsdc: not present"), std::string::npos) << tooltip.Text();
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(TakeWarnings(), "gleamo: sdc: not present\n");  // once

  // Plugged in with its counts since boot: no tick's work.
  WriteStats(stats(500000));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  tooltip.Refresh(source, 2'000'000);
  EXPECT_EQ(tooltip.Text().find("not present"), std::string::npos) << tooltip.Text();
  EXPECT_NE(tooltip.Text().find("\nsdc  read 0 B/s"), std::string::npos) << tooltip.Text();
  WriteStats(stats(500010));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 15u);

  // Pulled out: idle at once, said again, and no burst when it is back.
  WriteStats(stats(0));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  EXPECT_EQ(TakeWarnings(), "gleamo: sdc: not present\n");
  WriteStats(stats(600000));
  PollDiskCounters(source, counterScale, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  EXPECT_EQ(TakeWarnings(), "");
}

TEST_F(DiskStatsFiles, AMissingFileIsAFailedConnectionThatKeepsTheIconIdle) {
  CDiskStatsSource source(root + "/absent", blockRoot.c_str());
  EXPECT_EQ(ConnectAndPoll(source, counterScale, out, out), 0);
  EXPECT_EQ(Output(), "Connecting to " + root + "/absent...\n\nFailed to connect with " + root +
                          "/absent, Error: No such file or directory\n");
  for (int tick = 0; tick < 3; ++tick) EXPECT_EQ(PollDiskCounters(source, counterScale, out), 0);
  EXPECT_EQ(counterScale.readHeight, 0u);
  EXPECT_EQ(counterScale.prevReadTotal, 0u);
}

TEST_F(DiskStatsFiles, AFailedReadKeepsTheLastSampleAndHeights) {
  AddBlockDevice("sda", true);
  WriteStats(StatsLine("sda", 1000, 500));
  // A regular file that opens but cannot be read (the process's own address
  // space from address 0): the first poll already fails.
  CDiskStatsSource unreadable("/proc/self/mem", blockRoot, warnings);
  EXPECT_EQ(ConnectAndPoll(unreadable, counterScale, out, out), 0);
  EXPECT_NE(Output().find("Can't read /proc/self/mem!\n"), std::string::npos);

  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ConnectAndPoll(source, counterScale, nullptr, nullptr);
  WriteStats(StatsLine("sda", 1010, 500));
  EXPECT_EQ(PollDiskCounters(source, counterScale, nullptr), 1510);
  EXPECT_EQ(PollDiskCounters(unreadable, counterScale, nullptr), 1510);
  EXPECT_EQ(counterScale.readHeight, 15u);
  EXPECT_EQ(TakeWarnings(), "gleamo: cannot read /proc/self/mem: Input/output error\n");  // once for both failures
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  ASSERT_TRUE(file.flush()) << path;
}

// A fast tick comes every 150 ms; reading a whole hostile file, or a sysfs
// lookup for each of its names, took most of that. AddressSanitizer's check
// of every access (about 27 ms for the 1,024 lookups of a tick here) is not
// the program's cost: the sanitized build gets three times the time.
#if defined(__SANITIZE_ADDRESS__)
constexpr double SLOWEST_TICK_MS = 60.0;
#else
constexpr double SLOWEST_TICK_MS = 20.0;
#endif

double ThreadCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// What may stand at the counter file's path, by accident or on purpose, and
// block directories without disks, each connected and polled tick after
// tick as the program does. The source must answer at once, say each kind
// of trouble once, count only the whole lines of the file's first part,
// follow the path to another file without measuring the step (no counter
// here ever moves), and keep every tick cheap.
TEST_F(DiskStatsFiles, HostileCounterFilesAreRefusedCutOrFollowedCheaply) {
  AddBlockDevice("sda", true);
  AddBlockDevice("sdb", true);
  AddBlockDevice("sdc", true);
  const std::string disk = StatsLine("sda", 1000, 10);

  // Blank lines to 5 MB, a disk line across the end of the part that is
  // read (cut there, it would still parse, with a smaller last number) and
  // another disk far beyond.
  const std::string across = "   8      16 sdb 7 0 0 0 7 0 0 0 0 0 ";
  std::string oversized = disk;
  oversized.append(DISK_STATS_MAX_BYTES - oversized.size() - across.size() - 3, '\n');
  oversized += across + "123456789\n";
  oversized.append(5000000 - oversized.size(), '\n');
  oversized += StatsLine("sdb", 500000, 0);

  // 100,000 names, a sysfs lookup each: a disk among them past the lookups
  // of one poll, which a later poll counts, and one past the devices
  // remembered, which none does.
  std::string manyNames = disk;
  for (std::size_t i = 0; i < 100000; ++i) {
    if (i == DISK_STATS_LOOKUPS_PER_POLL + 10) manyNames += StatsLine("sdb", 500000, 0);
    if (i == DISK_STATS_MAX_DEVICES + 10) manyNames += StatsLine("sdc", 700000, 0);
    manyNames += StatsLine("dev" + std::to_string(i), 1, 1);
  }

  struct Case {
    std::string what;
    std::string path;
    std::string block;              // the stand-in /sys/block
    std::function<void()> make;     // before the connection
    std::function<void()> replace;  // after the first tick
    bool refused;                   // a failed connection
    std::string warnings;           // everything said on the warnings, in the whole run
    ActivitySample firstSample;
    ActivitySample lastSample;
  };
  const auto tooLarge = [](const std::string& path) {
    const std::string kib = std::to_string(DISK_STATS_MAX_BYTES / 1024);
    return "gleamo: " + path + " is larger than " + kib + " KiB; only its first " + kib + " KiB are read\n";
  };
  const std::string absentBlock = root + "/absent";
  const std::string emptyBlock = root + "/empty";
  const auto mkfifoAt = [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path; };
  const std::vector<Case> cases = {
      {"/dev/zero", "/dev/zero", blockRoot, nullptr, nullptr, true, "", 0, 0},
      {"a FIFO", root + "/fifo", blockRoot, [&] { mkfifoAt(root + "/fifo"); }, nullptr, true, "", 0, 0},
      {"5 MB, mostly blank lines", root + "/oversized", blockRoot, [&] { WriteFile(root + "/oversized", oversized); },
       nullptr, false, tooLarge(root + "/oversized"), 1010, 1010},
      {"100,000 names", root + "/names", blockRoot, [&] { WriteFile(root + "/names", manyNames); }, nullptr, false,
       tooLarge(root + "/names") + "gleamo: " + root + "/names lists more than " +
           std::to_string(DISK_STATS_MAX_DEVICES) + " devices; the rest are not counted\n",
       1010, 501010},
      {"a file renamed over it", root + "/renamed", blockRoot, [&] { WriteFile(root + "/renamed", disk); },
       [&] {
         WriteFile(root + "/renamed.new", StatsLine("sda", 5000, 50));
         ASSERT_EQ(std::rename((root + "/renamed.new").c_str(), (root + "/renamed").c_str()), 0);
       },
       false, "", 1010, 5050},
      {"a FIFO in place of the file", root + "/to-fifo", blockRoot, [&] { WriteFile(root + "/to-fifo", disk); },
       [&] {
         ASSERT_EQ(unlink((root + "/to-fifo").c_str()), 0);
         mkfifoAt(root + "/to-fifo");
       },
       false,
       "gleamo: " + root +
           "/to-fifo now names another file, which cannot be read (not a regular file); still reading the old one\n",
       1010, 1010},
      {"no block directory", root + "/stats-absent-block", absentBlock,
       [&] { WriteFile(root + "/stats-absent-block", disk); }, nullptr, false,
       "gleamo: cannot list the block devices in " + absentBlock + " (No such file or directory); no disk is counted\n",
       0, 0},
      {"an empty block directory", root + "/stats-empty-block", emptyBlock,
       [&] {
         ASSERT_EQ(mkdir(emptyBlock.c_str(), 0755), 0);
         WriteFile(root + "/stats-empty-block", disk);
       },
       nullptr, false, "gleamo: " + emptyBlock + " lists no block devices; no disk is counted\n", 0, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    counterScale = CounterScale{};
    if (test.make) test.make();
    CDiskStatsSource source(test.path, test.block, warnings);
    std::FILE* const connection = std::tmpfile();
    double slowestTick = 0;
    ActivitySample firstSample = 0;
    ActivitySample sample = 0;
    for (unsigned tick = 0; tick <= 2 * DISK_STATS_PATH_CHECK_POLLS; ++tick) {
      if (tick == 1 && test.replace) test.replace();
      const double start = ThreadCpuMilliseconds();
      sample = tick == 0 ? ConnectAndPoll(source, counterScale, connection, nullptr)
                         : PollDiskCounters(source, counterScale, nullptr);
      slowestTick = std::max(slowestTick, ThreadCpuMilliseconds() - start);
      if (tick == 0) firstSample = sample;
    }
    const std::string connectionLines = ReadWideOutput(connection);
    std::fclose(connection);
    EXPECT_EQ(connectionLines,
              "Connecting to " + test.path + "...\n\n" +
                  (test.refused ? "Failed to connect with " + test.path + ", Error: not a regular file\n"
                                : "Connected with " + test.path + "\n"));
    EXPECT_EQ(TakeWarnings(), test.warnings);
    EXPECT_EQ(firstSample, test.firstSample);
    EXPECT_EQ(sample, test.lastSample);
    EXPECT_EQ(counterScale.readMax, 0u);
    EXPECT_EQ(counterScale.writeMax, 0u);
    EXPECT_LT(slowestTick, SLOWEST_TICK_MS);
  }
}

TEST(DiskStatsLive, WalksThisMachinesDisks) {
  CDiskStatsSource source("/proc/diskstats", "/sys/block");
  if (!source.Open()) GTEST_SKIP() << "no /proc/diskstats here";
  std::FILE* out = std::tmpfile();
  PollTotals first;
  ASSERT_TRUE(source.Read(first, out));
  // Two reads moments apart see the same disks: their counters differ little.
  PollTotals second;
  ASSERT_TRUE(source.Read(second, nullptr));
  std::fflush(out);
  const bool printed = std::ftell(out) > 0;
  std::fclose(out);
  bool anyDisk = false;
  std::ifstream stats("/proc/diskstats");
  for (std::string text; std::getline(stats, text);) {
    DiskStatsLine line;
    if (Parse(text, line) && IsPhysicalDisk("/sys/block", line.name, line.nameLength)) anyDisk = true;
  }
  EXPECT_EQ(printed, anyDisk);
  if (anyDisk) {
    EXPECT_GT(first.readTotal + first.writeTotal, 0u);  // a running system has read its disk
  }
  EXPECT_LT(second.readTotal - first.readTotal, 1000000u);
  EXPECT_LT(second.writeTotal - first.writeTotal, 1000000u);
}

}  // namespace
