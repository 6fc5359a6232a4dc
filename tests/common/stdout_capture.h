#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Collects what the code under test writes to standard output, at the file
// descriptor, so the bytes are those the C runtime really produced.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  ~StdoutCapture() {
    if (!taken_) Take();
  }
  std::string Take() {
    std::fflush(stdout);
    taken_ = true;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool taken_ = false;
};
