#include "activity/counter_walk.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/common/wide_output.h"

namespace {

CounterProperty Integer(const wchar_t* name, std::int32_t value) {
  return {name, std::wcslen(name) * sizeof(wchar_t), PropertyKind::Int32, value, nullptr};
}

CounterProperty Text(const wchar_t* name, const wchar_t* value) {
  return {name, std::wcslen(name) * sizeof(wchar_t), PropertyKind::Text, 0, value};
}

// Collects the walk's output in a fresh stream of its own, since a byte
// stream such as the test's stdout may refuse wide output.
class CounterWalkTest : public testing::Test {
 protected:
  std::FILE* out = std::tmpfile();
  CounterScale scale;

  void TearDown() override { std::fclose(out); }

  std::string Output() { return ReadWideOutput(out); }
};

TEST_F(CounterWalkTest, PrintsEachKindInItsOwnFormat) {
  ASSERT_NE(out, nullptr);
  TallyCounterProperty(out, Integer(L"ReadCount", 42), scale);
  TallyCounterProperty(out, Integer(L"QueueDepth", -7), scale);
  TallyCounterProperty(out, Text(L"StorageManagerName", L"PartMgr"), scale);
  TallyCounterProperty(out, {L"IdleTime", 16, PropertyKind::Other, 0, nullptr}, scale);
  EXPECT_EQ(Output(),
            "\tReadCount\t= 42\n"
            "\tQueueDepth\t= -7\n"
            "\tStorageManagerName\t= PartMgr\n"
            "\tIdleTime\t= NULL\n");
}

TEST_F(CounterWalkTest, AddsOnlyExactlyNamedIntegers) {
  TallyCounterProperty(out, Integer(L"ReadCount", 10), scale);
  TallyCounterProperty(out, Integer(L"WriteCount", 3), scale);
  TallyCounterProperty(out, Integer(L"ReadCount", 5), scale);
  TallyCounterProperty(out, Integer(L"readcount", 100), scale);    // other case
  TallyCounterProperty(out, Integer(L"ReadCount ", 100), scale);   // trailing blank
  TallyCounterProperty(out, Integer(L"ReadCounts", 100), scale);   // longer
  TallyCounterProperty(out, Text(L"WriteCount", L"100"), scale);  // a string is not counted
  EXPECT_EQ(scale.readTotal, 15u);
  EXPECT_EQ(scale.writeTotal, 3u);
}

TEST_F(CounterWalkTest, ComparesByByteLengthNotByTerminator) {
  // A name whose length says it is longer than its visible text does not match.
  CounterProperty padded = Integer(L"ReadCount", 9);
  padded.nameBytes += sizeof(wchar_t);
  TallyCounterProperty(out, padded, scale);
  EXPECT_EQ(scale.readTotal, 0u);
}

TEST_F(CounterWalkTest, NegativeCountsAddTheirThirtyTwoBits) {
  scale.readTotal = 10;
  TallyCounterProperty(out, Integer(L"ReadCount", -1), scale);  // 0xFFFFFFFF
  EXPECT_EQ(scale.readTotal, 9u);
  EXPECT_EQ(Output(), "\tReadCount\t= -1\n");
}

TEST_F(CounterWalkTest, CountsWithoutPrintingWhenThereIsNoStream) {
  TallyCounterProperty(nullptr, Integer(L"ReadCount", 4), scale);
  TallyCounterProperty(nullptr, Integer(L"WriteCount", 6), scale);
  TallyCounterProperty(nullptr, Text(L"DeviceName", L"sda"), scale);
  TallyCounterProperty(nullptr, {L"IdleTime", 16, PropertyKind::Other, 0, nullptr}, scale);
  EXPECT_EQ(scale.readTotal, 4u);
  EXPECT_EQ(scale.writeTotal, 6u);
}

}  // namespace
