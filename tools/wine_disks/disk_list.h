// The disks the Wine disk-performance provider reports, taken from one of
// its two counter texts. Portable, so the parsing is tested natively too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct DiskCounters {
  std::string name;
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
  // Only the host's diskstats know these; a scripted disk leaves them 0.
  std::uint64_t bytesRead = 0;
  std::uint64_t bytesWritten = 0;
  std::uint64_t readTimeMs = 0;
  std::uint64_t writeTimeMs = 0;
  std::uint64_t inFlight = 0;
  std::uint64_t ioTimeMs = 0;  // time with requests in flight
};

// A scripted counter file: one disk per "NAME READS WRITES" line; any other
// line is skipped.
std::vector<DiskCounters> DisksFromCountsText(std::string_view text);

// The kernel's /proc/diskstats: the devices isWholeDisk accepts, so that a
// partition's operations are not counted again beside its disk's.
std::vector<DiskCounters> DisksFromDiskStats(std::string_view text,
                                             const std::function<bool(const std::string&)>& isWholeDisk);
