#include "activity/disk_stats_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
  CounterScale scale;
  ASSERT_TRUE(source.Walk(nullptr, scale));
  EXPECT_EQ(scale.readTotal, 107u);
  EXPECT_EQ(scale.writeTotal, 43u);
}

TEST_F(DiskStatsFiles, PrintsEveryPropertyOfADiskUnderItsWindowsName) {
  AddBlockDevice("sda", true);
  WriteStats(std::string(LINE_20) + "\n");
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ASSERT_TRUE(source.Open());
  CounterScale scale;
  ASSERT_TRUE(source.Walk(out, scale));
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
  CounterScale scale;
  ASSERT_TRUE(source.Walk(nullptr, scale));
  EXPECT_EQ(scale.readTotal, 1u);  // 0xFFFFFFFF + 2
}

TEST_F(DiskStatsFiles, EveryPollSeesTheFileAsItIsNow) {
  AddBlockDevice("sda", true);
  AddBlockDevice("loop0", false);
  WriteStats(StatsLine("sda", 100, 50) + StatsLine("loop0", 5, 5));
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ASSERT_TRUE(source.Open());
  CounterScale scale;
  ASSERT_TRUE(source.Walk(nullptr, scale));
  EXPECT_EQ(scale.readTotal, 100u);

  // The same positions now hold other devices: the filter asks again.
  WriteStats(StatsLine("loop0", 7, 7) + StatsLine("sda", 200, 60));
  scale = CounterScale{};
  ASSERT_TRUE(source.Walk(nullptr, scale));
  EXPECT_EQ(scale.readTotal, 200u);
  EXPECT_EQ(scale.writeTotal, 60u);

  // Far more devices than the first read had room for.
  std::string many;
  for (int i = 0; i < 400; ++i) many += StatsLine("loop0", 1, 1);
  many += StatsLine("sda", 300, 70);
  WriteStats(many);
  scale = CounterScale{};
  ASSERT_TRUE(source.Walk(nullptr, scale));
  EXPECT_EQ(scale.readTotal, 300u);
  EXPECT_EQ(scale.writeTotal, 70u);
}

TEST_F(DiskStatsFiles, TicksScaleTheChangesIntoBarHeights) {
  AddBlockDevice("sda", true);
  WriteStats(StatsLine("sda", 1000, 500));
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  // The connection lines alone: the first poll's counter lines go nowhere.
  EXPECT_EQ(ConnectAndPoll(source, out, nullptr), 1500);
  EXPECT_EQ(Output(), "Connecting to " + statsPath + "...\n\nConnected with " + statsPath + "\n");
  WriteStats(StatsLine("sda", 1010, 500));
  EXPECT_EQ(PollDiskCounters(source, nullptr), 1510);
  EXPECT_EQ(counterScale.readHeight, 15u);
  EXPECT_EQ(counterScale.writeHeight, 0u);
  WriteStats(StatsLine("sda", 1015, 504));
  EXPECT_EQ(PollDiskCounters(source, nullptr), 1519);
  EXPECT_EQ(counterScale.readHeight, 7u);
  EXPECT_EQ(counterScale.writeHeight, 15u);
}

TEST_F(DiskStatsFiles, ADiskThatLeavesOrJoinsMeasuresNothingOnThatTick) {
  AddBlockDevice("sda", true);
  AddBlockDevice("sdb", true);
  const auto both = [](unsigned sda, unsigned sdb) { return StatsLine("sda", sda, 0) + StatsLine("sdb", sdb, 0); };
  WriteStats(both(1000000, 5000));
  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ConnectAndPoll(source, nullptr, nullptr);
  WriteStats(both(1000100, 5000));
  PollDiskCounters(source, nullptr);
  EXPECT_EQ(counterScale.readHeight, 15u);
  WriteStats(StatsLine("sda", 1000150, 0));  // sdb gone for exactly one tick
  PollDiskCounters(source, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  WriteStats(both(1000200, 5000));  // and back, with its lifetime count
  PollDiskCounters(source, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  WriteStats(both(1000300, 5000));
  PollDiskCounters(source, nullptr);
  EXPECT_EQ(counterScale.readDelta, 100u);
  EXPECT_EQ(counterScale.readMax, 100u);
  EXPECT_EQ(counterScale.readHeight, 15u);

  // A disk plugged in mid-run: its counts since it appeared are no tick's work.
  AddBlockDevice("sdc", true);
  WriteStats(both(1000350, 5000) + StatsLine("sdc", 800000, 0));
  PollDiskCounters(source, nullptr);
  EXPECT_EQ(counterScale.readHeight, 0u);
  WriteStats(both(1000400, 5000) + StatsLine("sdc", 800050, 0));
  PollDiskCounters(source, nullptr);
  EXPECT_EQ(counterScale.readDelta, 100u);
  EXPECT_EQ(counterScale.readMax, 100u);
}

TEST_F(DiskStatsFiles, AMissingFileIsAFailedConnectionThatKeepsTheIconIdle) {
  CDiskStatsSource source(root + "/absent", blockRoot.c_str());
  EXPECT_EQ(ConnectAndPoll(source, out, out), 0);
  EXPECT_EQ(Output(), "Connecting to " + root + "/absent...\n\nFailed to connect with " + root +
                          "/absent, Error: No such file or directory\n");
  for (int tick = 0; tick < 3; ++tick) EXPECT_EQ(PollDiskCounters(source, out), 0);
  EXPECT_EQ(counterScale.readHeight, 0u);
  EXPECT_EQ(counterScale.prevReadTotal, 0u);
}

TEST_F(DiskStatsFiles, AFailedReadKeepsTheLastSampleAndHeights) {
  AddBlockDevice("sda", true);
  WriteStats(StatsLine("sda", 1000, 500));
  // A directory opens but cannot be read: the first poll already fails.
  CDiskStatsSource directory(blockRoot, blockRoot.c_str());
  EXPECT_EQ(ConnectAndPoll(directory, out, out), 0);
  EXPECT_NE(Output().find("Can't read " + blockRoot + "!\n"), std::string::npos);

  CDiskStatsSource source(statsPath, blockRoot.c_str());
  ConnectAndPoll(source, nullptr, nullptr);
  WriteStats(StatsLine("sda", 1010, 500));
  EXPECT_EQ(PollDiskCounters(source, nullptr), 1510);
  EXPECT_EQ(PollDiskCounters(directory, nullptr), 1510);
  EXPECT_EQ(counterScale.readHeight, 15u);
}

TEST(DiskStatsLive, WalksThisMachinesDisks) {
  CDiskStatsSource source("/proc/diskstats", "/sys/block");
  if (!source.Open()) GTEST_SKIP() << "no /proc/diskstats here";
  std::FILE* out = std::tmpfile();
  CounterScale first;
  ASSERT_TRUE(source.Walk(out, first));
  // Two reads moments apart see the same disks: their counters differ little.
  CounterScale second;
  ASSERT_TRUE(source.Walk(nullptr, second));
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
