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

// What a scripted counter file tells the provider to get wrong, for tests of
// a WMI that goes away: lines of a word and a number (decimal, or
// hexadecimal after 0x), read on every call that they concern.
struct WmiFaults {
  // "refuse-connect N": ConnectServer fails N more times from when the line
  // appears (with RPC_S_SERVER_UNAVAILABLE, as while the service is down).
  std::uint32_t refusedConnections = 0;
  // "fail-enum CODE": CreateInstanceEnum fails with this result while the
  // line stays (0: it does not fail).
  std::uint32_t enumFailure = 0;
  // "stall-next MS": an enumeration hands out nothing until this long after
  // it was made; Next waits for that, or for as long as its time-out allows
  // and then times out.
  std::uint32_t stallMs = 0;
};
WmiFaults FaultsFromCountsText(std::string_view text);

// The kernel's /proc/diskstats: the devices isWholeDisk accepts, so that a
// partition's operations are not counted again beside its disk's.
std::vector<DiskCounters> DisksFromDiskStats(std::string_view text,
                                             const std::function<bool(const std::string&)>& isWholeDisk);
