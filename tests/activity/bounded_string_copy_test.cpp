#include "activity/bounded_string_copy.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BoundedStringCopyTest, CopiesASourceThatFitsWithRoomToSpare) {
  char buffer[18];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(BoundedStringCopy(buffer, 18, "ABCDEFGHIJKLMNOPQ"), COPY_OK);  // 17 characters
  EXPECT_STREQ(buffer, "ABCDEFGHIJKLMNOPQ");
}

TEST(BoundedStringCopyTest, ASourceThatFillsEveryCellButTheTerminatorsFits) {
  char buffer[4];
  EXPECT_EQ(BoundedStringCopy(buffer, 4, "abc"), COPY_OK);
  EXPECT_STREQ(buffer, "abc");
}

TEST(BoundedStringCopyTest, ALongerSourceIsCutAndReported) {
  char buffer[19];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(BoundedStringCopy(buffer, 18, "ABCDEFGHIJKLMNOPQR"), COPY_INSUFFICIENT_BUFFER);  // 18 characters
  EXPECT_STREQ(buffer, "ABCDEFGHIJKLMNOPQ");
  EXPECT_EQ(buffer[18], '#');  // nothing written past the capacity
  EXPECT_EQ(COPY_INSUFFICIENT_BUFFER, static_cast<std::int32_t>(0x8007007Au));
}

TEST(BoundedStringCopyTest, ACapacityOfOneHoldsOnlyTheTerminator) {
  char buffer[2] = {'#', '#'};
  EXPECT_EQ(BoundedStringCopy(buffer, 1, "x"), COPY_INSUFFICIENT_BUFFER);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '#');
}

TEST(BoundedStringCopyTest, NoCapacityOrNoBufferWritesNothing) {
  char buffer[2] = {'#', '#'};
  EXPECT_EQ(BoundedStringCopy(buffer, 0, "x"), COPY_INVALID_ARGUMENT);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(COPY_INVALID_ARGUMENT, static_cast<std::int32_t>(0x80070057u));
  EXPECT_EQ(BoundedStringCopy(nullptr, 5, "x"), COPY_INVALID_ARGUMENT);
  EXPECT_EQ(BoundedStringCopy(buffer, 2, nullptr), COPY_INVALID_ARGUMENT);
  EXPECT_EQ(buffer[0], '#');
}

}  // namespace
