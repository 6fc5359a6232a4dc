#include "activity/counter_scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <initializer_list>

namespace {

struct Expected {
  std::uint32_t readDelta, writeDelta, readMax, writeMax, readHeight, writeHeight;
  std::uint32_t returned;
};

class ScaleCountersTest : public testing::Test {
 protected:
  CounterScale scale;

  ActivitySample Poll(std::uint32_t read, std::uint32_t write) {
    scale.readTotal = read;
    scale.writeTotal = write;
    return ScaleCounters(scale);
  }

  void ExpectPoll(std::uint32_t read, std::uint32_t write, const Expected& e) {
    SCOPED_TRACE(testing::Message() << "totals " << read << ", " << write);
    const ActivitySample sample = Poll(read, write);
    EXPECT_EQ(scale.readDelta, e.readDelta);
    EXPECT_EQ(scale.writeDelta, e.writeDelta);
    EXPECT_EQ(scale.readMax, e.readMax);
    EXPECT_EQ(scale.writeMax, e.writeMax);
    EXPECT_EQ(scale.readHeight, e.readHeight);
    EXPECT_EQ(scale.writeHeight, e.writeHeight);
    EXPECT_EQ(static_cast<std::uint32_t>(sample), e.returned);
    EXPECT_EQ(scale.lastSample, e.returned);
    EXPECT_EQ(scale.prevReadTotal, read);
    EXPECT_EQ(scale.prevWriteTotal, write);
  }
};

TEST_F(ScaleCountersTest, FollowsDeltasAgainstNeverDecayingMaxima) {
  ExpectPoll(1000, 500, {0, 0, 0, 0, 0, 0, 1500});  // first poll: nothing to compare with
  ExpectPoll(1010, 500, {10, 0, 10, 0, 15, 0, 1510});
  ExpectPoll(1011, 500, {1, 0, 10, 0, 2, 0, 1511});  // integer part 1, lifted to 2
  ExpectPoll(1016, 504, {5, 4, 10, 4, 7, 15, 1520});
  ExpectPoll(1016, 504, {0, 0, 10, 4, 0, 0, 1520});
  ExpectPoll(1026, 512, {10, 8, 10, 8, 15, 15, 1538});
}

// Totals as a poll over named disks builds them: StartCounterPoll, then each
// disk counted and named.
class InstanceSetTest : public ScaleCountersTest {
 protected:
  ActivitySample PollDisks(std::uint32_t read, std::uint32_t write, std::initializer_list<const wchar_t*> disks) {
    StartCounterPoll(scale);
    for (const wchar_t* name : disks) {
      CountInstance(scale);
      if (name != nullptr) AddInstanceName(scale, name, std::wcslen(name));
    }
    return Poll(read, write);
  }
};

TEST_F(InstanceSetTest, ADiskMissingForOnePollMeasuresNothingAndKeepsTheScale) {
  const std::uint32_t steady = 100;
  PollDisks(1000000, 0, {L"Disk0", L"Disk1"});
  PollDisks(1000100, 0, {L"Disk0", L"Disk1"});
  EXPECT_EQ(scale.readHeight, 15u);
  PollDisks(1000200, 0, {L"Disk1", L"Disk0"});  // another order is the same set
  EXPECT_EQ(scale.readDelta, steady);
  PollDisks(600200, 0, {L"Disk0"});  // Disk1 missing: no activity, no reset to the scale
  EXPECT_EQ(scale.readDelta, 0u);
  EXPECT_EQ(scale.readHeight, 0u);
  PollDisks(1000300, 0, {L"Disk0", L"Disk1"});  // back: its whole count is not one tick's work
  EXPECT_EQ(scale.readDelta, 0u);
  EXPECT_EQ(scale.readMax, steady);
  PollDisks(1000400, 0, {L"Disk0", L"Disk1"});
  EXPECT_EQ(scale.readDelta, steady);
  EXPECT_EQ(scale.readMax, steady) << "the maximum must not be pinned by the returning disk";
  EXPECT_EQ(scale.readHeight, 15u);
  EXPECT_EQ(scale.lastSample, 1000400u);
}

TEST_F(InstanceSetTest, ADiskSwappedForAnotherOrANamelessOneGoneIsAnotherSet) {
  PollDisks(500, 500, {L"sda", L"sdb", nullptr});
  PollDisks(600, 600, {L"sda", L"sdb", nullptr});
  EXPECT_EQ(scale.readHeight, 15u);
  PollDisks(700, 700, {L"sda", L"sdc", nullptr});  // as many disks, one of them new
  EXPECT_EQ(scale.readDelta, 0u);
  EXPECT_EQ(scale.writeHeight, 0u);
  PollDisks(750, 750, {L"sda", L"sdc"});  // the nameless one went
  EXPECT_EQ(scale.writeDelta, 0u);
  PollDisks(800, 760, {L"sda", L"sdc"});
  EXPECT_EQ(scale.readDelta, 50u);
  EXPECT_EQ(scale.writeDelta, 10u);
  EXPECT_EQ(scale.readMax, 100u);
}

TEST_F(ScaleCountersTest, HeightIsNeverOneAndNeverAboveFifteen) {
  Poll(1, 1);
  Poll(1 + 1000, 1 + 1000);  // maxima 1000
  std::uint32_t read = 1001, write = 1001;
  for (std::uint32_t delta = 0; delta <= 1000; ++delta) {
    read += delta;
    write += 1000 - delta;
    Poll(read, write);
    EXPECT_NE(scale.readHeight, 1u);
    EXPECT_LE(scale.readHeight, 15u);
    EXPECT_EQ(scale.readHeight == 0, delta == 0);
    EXPECT_EQ(scale.writeHeight == 15, delta == 0);
  }
}

TEST_F(ScaleCountersTest, ATotalOfZeroMeansNoPreviousValue) {
  Poll(100, 100);
  Poll(130, 110);  // deltas 30, 10
  Poll(0, 0);      // a drop to zero is a reset: no activity on this poll
  EXPECT_EQ(scale.readDelta, 0u);
  EXPECT_EQ(scale.writeDelta, 0u);
  EXPECT_EQ(scale.readMax, 30u);
  Poll(50, 20);  // previous totals are 0: the deltas keep their values
  EXPECT_EQ(scale.readDelta, 0u);
  EXPECT_EQ(scale.writeDelta, 0u);
  Poll(80, 30);
  EXPECT_EQ(scale.readDelta, 30u);
  EXPECT_EQ(scale.writeDelta, 10u);
  EXPECT_EQ(scale.readHeight, 15u);
  EXPECT_EQ(scale.writeHeight, 15u);
}

TEST_F(ScaleCountersTest, AWrapPastTheTopGivesTheTrueSmallDelta) {
  Poll(4294967200u, 0);
  Poll(4294967280u, 500);  // read delta 80 becomes the maximum
  EXPECT_EQ(static_cast<std::uint32_t>(Poll(16, 500)), 16u + 500u);
  EXPECT_EQ(scale.readDelta, 32u);
  EXPECT_EQ(scale.readMax, 80u);
  EXPECT_EQ(scale.readHeight, 6u);  // 15 * 32 / 80
}

TEST_F(ScaleCountersTest, TheSampleWrapsModuloTwoToTheThirtyTwo) {
  EXPECT_EQ(static_cast<std::uint32_t>(Poll(4294967280u, 500)), 484u);
  EXPECT_EQ(Poll(0x7FFFFFFFu, 1), static_cast<ActivitySample>(0x80000000u));
}

TEST_F(ScaleCountersTest, ATotalThatGoesDownIsAResetNotActivity) {
  Poll(1000, 600);
  Poll(1100, 700);  // deltas 100, 100: the maxima
  Poll(900, 700);   // a disk went away: the read total fell by 200
  EXPECT_EQ(scale.readDelta, 0u);
  EXPECT_EQ(scale.readHeight, 0u);
  EXPECT_EQ(scale.readMax, 100u) << "a reset must not raise the maximum";
  Poll(950, 700);  // measured from the new total
  EXPECT_EQ(scale.readDelta, 50u);
  EXPECT_EQ(scale.readHeight, 7u);  // not squashed to 2 by a huge maximum
}

TEST_F(ScaleCountersTest, AResetFromHighCountersIsNotMistakenForAWrap) {
  Poll(3000000000u, 10);
  Poll(3000000100u, 20);
  Poll(5, 30);  // fell by three billion: far more than one tick could wrap
  EXPECT_EQ(scale.readDelta, 0u);
  EXPECT_EQ(scale.readMax, 100u);
  EXPECT_EQ(scale.writeHeight, 15u);
}

TEST_F(ScaleCountersTest, AHugeDeltaEqualToTheMaximumFillsTheBar) {
  Poll(1, 1);
  Poll(1 + 536870912u, 1);  // 15 * delta needs more than 32 bits
  EXPECT_EQ(scale.readHeight, 15u);
  Poll(1 + 536870912u + 268435456u, 1);
  EXPECT_EQ(scale.readHeight, 7u);
}

TEST_F(ScaleCountersTest, NoInstancesIsACompletedPollWithZeroTotals) {
  EXPECT_EQ(Poll(0, 0), 0);
  EXPECT_EQ(Poll(0, 0), 0);
  EXPECT_EQ(scale.readHeight, 0u);
  EXPECT_EQ(scale.writeHeight, 0u);
}

}  // namespace
