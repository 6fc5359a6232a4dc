#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> released;

struct RecordRelease {
  void operator()(int value) const noexcept { released.push_back(value); }
};

// Like a file descriptor: 0 is a real value, -1 is none.
using unique_fd_like = unique_handle<int, RecordRelease, -1>;

// A C function that hands a new value out through a pointer.
void HandOut(int value, int* out) {
  *out = value;
}

TEST(UniqueHandle, InvalidValueIsNeverReleasedAndZeroIsOwned) {
  released.clear();
  {
    unique_fd_like none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.get(), -1);
    unique_fd_like zero(0);
    EXPECT_TRUE(zero);
    unique_fd_like moved(std::move(zero));
    EXPECT_FALSE(zero);
    EXPECT_EQ(zero.release(), -1);
  }
  EXPECT_EQ(released, std::vector<int>{0});
}

TEST(UniqueHandle, PutReleasesTheHeldValueAndOwnsTheNewOne) {
  released.clear();
  {
    unique_fd_like owner(7);
    HandOut(9, owner.put());
    EXPECT_EQ(released, std::vector<int>{7});
    EXPECT_EQ(owner.get(), 9);
    HandOut(-1, owner.put());  // a call that failed and wrote nothing valid
    EXPECT_FALSE(owner);
  }
  EXPECT_EQ(released, (std::vector<int>{7, 9}));
}

}  // namespace
