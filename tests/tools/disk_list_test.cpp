#include "tools/wine_disks/disk_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const std::vector<DiskCounters>& disks) {
  std::vector<std::string> names;
  for (const DiskCounters& disk : disks) names.push_back(disk.name);
  return names;
}

TEST(DisksFromCountsText, TakesEveryWellFormedLineAndSkipsTheRest) {
  const std::vector<DiskCounters> disks = DisksFromCountsText(
      "sda 100 200\n"
      "  nvme0n1\t18446744073709551615 4294967296  \r\n"  // blanks around, 64-bit values, CR LF
      "\n"
      "sdb 1 2 3\n"                              // a word too many
      "sdc 1\n"                                  // a count missing
      "sdd -1 2\n"                               // a sign
      "sde 18446744073709551616 0\n"             // beyond 64 bits
      "sdf 1x 2\n"                               // a number with a tail
      "abcdefghijklmnopqrstuvwxyz0123456 1 2\n"  // a name longer than a kernel's
      "last 7 8");                               // no line end at the end
  ASSERT_EQ(Names(disks), (std::vector<std::string>{"sda", "nvme0n1", "last"}));
  EXPECT_EQ(disks[0].reads, 100u);
  EXPECT_EQ(disks[0].writes, 200u);
  EXPECT_EQ(disks[1].reads, 18446744073709551615u);
  EXPECT_EQ(disks[1].writes, 4294967296u);
  EXPECT_EQ(disks[2].writes, 8u);
  EXPECT_EQ(disks[0].bytesRead, 0u);  // a scripted disk knows only its counts
}

TEST(DisksFromDiskStats, KeepsTheWholeDisksWithTheirCountsBytesAndTimes) {
  const std::vector<DiskCounters> disks = DisksFromDiskStats(
      "   7       0 loop0 5 0 10 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
      " 254       0 vda 41146 9882 4024226 14995 37760 12206 5182648 22258 3 10080 38530 10875 63 714192 998 5991 278\n"
      " 254       1 vda1 40000 9000 4000000 14000 37000 12000 5000000 22000 0 10000 38000\n"
      "not a line\n",
      [](const std::string& name) { return name == "vda"; });
  ASSERT_EQ(Names(disks), std::vector<std::string>{"vda"});
  EXPECT_EQ(disks[0].reads, 41146u);
  EXPECT_EQ(disks[0].writes, 37760u);
  EXPECT_EQ(disks[0].bytesRead, 4024226u * 512);
  EXPECT_EQ(disks[0].bytesWritten, 5182648u * 512);
  EXPECT_EQ(disks[0].readTimeMs, 14995u);
  EXPECT_EQ(disks[0].writeTimeMs, 22258u);
  EXPECT_EQ(disks[0].inFlight, 3u);
}

}  // namespace
