// A timing loop for programs that cannot use Google Benchmark (the Windows
// tree): a job runs in rounds of many calls, and the median round speaks for
// it, so that a round disturbed by another process counts for little.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

// Nanoseconds per call of one round of `calls` calls.
template <class Job>
double RoundNanoseconds(std::size_t calls, Job&& job) {
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < calls; ++i) job();
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return calls == 0 ? 0.0 : spent.count() / static_cast<double>(calls);
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}
