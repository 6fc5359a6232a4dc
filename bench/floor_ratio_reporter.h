// Console output of Google Benchmark followed by every benchmark's CPU time
// as a multiple of one reference benchmark of the same run, the floor: the
// cheapest way to do a job at all (for a counter source, reading its file).
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class FloorRatioReporter : public benchmark::ConsoleReporter {
 public:
  // floorName: the floor's benchmark name as the console shows it.
  explicit FloorRatioReporter(std::string floorName);

  void ReportRuns(const std::vector<Run>& runs) override;
  // Prints the ratios; none when the floor did not run or failed.
  void Finalize() override;

  // Nanoseconds of CPU time per iteration of each benchmark that ran: the
  // median when repetitions give one, else the median of the runs.
  std::map<std::string, double> CpuNanoseconds() const;

  // True when a benchmark reported an error (SkipWithError).
  bool Failed() const { return failed_; }

 private:
  std::string floorName_;
  std::vector<std::string> order_;  // names in the order they ran
  std::map<std::string, std::vector<double>> runNanoseconds_;
  std::map<std::string, double> medianNanoseconds_;  // from the median aggregate
  bool failed_ = false;
};
