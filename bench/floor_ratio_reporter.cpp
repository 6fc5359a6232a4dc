#include "bench/floor_ratio_reporter.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <utility>

namespace {

double ToNanoseconds(double time, benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond: return time;
    case benchmark::kMicrosecond: return time * 1e3;
    case benchmark::kMillisecond: return time * 1e6;
    case benchmark::kSecond: return time * 1e9;
  }
  return time;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

FloorRatioReporter::FloorRatioReporter(std::string floorName)
    : ConsoleReporter(OO_Tabular), floorName_(std::move(floorName)) {}

void FloorRatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    const std::string name = run.run_name.str();
    if (run.error_occurred) {
      failed_ = true;
      continue;
    }
    const double nanoseconds = ToNanoseconds(run.GetAdjustedCPUTime(), run.time_unit);
    if (std::find(order_.begin(), order_.end(), name) == order_.end()) order_.push_back(name);
    if (run.run_type == Run::RT_Aggregate) {
      if (run.aggregate_name == "median") medianNanoseconds_[name] = nanoseconds;
      continue;
    }
    runNanoseconds_[name].push_back(nanoseconds);
  }
}

std::map<std::string, double> FloorRatioReporter::CpuNanoseconds() const {
  std::map<std::string, double> result;
  for (const auto& [name, times] : runNanoseconds_) result[name] = Median(times);
  for (const auto& [name, median] : medianNanoseconds_) result[name] = median;
  return result;
}

void FloorRatioReporter::Finalize() {
  std::ostream& out = GetOutputStream();
  const std::map<std::string, double> times = CpuNanoseconds();
  const auto floor = times.find(floorName_);
  if (failed_ || floor == times.end() || floor->second <= 0) {
    out << "\nno ratios: the floor " << floorName_ << " did not run, or a benchmark failed\n";
    return;
  }
  out << "\nCPU time per call, and as a multiple of the floor " << floorName_ << ":\n";
  for (const std::string& name : order_) {
    if (times.count(name) == 0) continue;
    char line[200];
    std::snprintf(line, sizeof line, "  %-36s %12.1f ns %10.4f times the floor\n", name.c_str(), times.at(name),
                  times.at(name) / floor->second);
    out << line;
  }
}
