// The lines of a disk counter text: the kernel's /proc/diskstats, and the
// short "NAME READS WRITES" lines of a scripted counter file. Plain parsing,
// no file access, so every edition and tool can share it.
#pragma once

#include <cstddef>
#include <cstdint>

// The numeric fields after the name: kernels before 4.18 print 11, 4.18 adds
// four discard fields (15), 5.5 two flush fields (17).
constexpr int DISK_STATS_MIN_FIELDS = 11;
constexpr int DISK_STATS_MAX_FIELDS = 17;
constexpr std::size_t DISK_NAME_MAX = 31;    // the kernel's DISK_NAME_LEN less its terminator
constexpr std::uint64_t SECTOR_BYTES = 512;  // diskstats counts 512-byte sectors whatever the disk's own size

struct DiskStatsLine {
  unsigned major = 0;
  unsigned minor = 0;
  const char* name = nullptr;  // points into the parsed text, not terminated
  std::size_t nameLength = 0;
  int fieldCount = 0;  // 11 to 17; more on a future kernel are ignored
  std::uint64_t fields[DISK_STATS_MAX_FIELDS] = {};
};

// Parses one line (without its line feed). False for anything that is not a
// diskstats line: missing numbers, a word where a number belongs, a number
// beyond 64 bits, an empty or over-long name.
bool ParseDiskStatsLine(const char* begin, const char* end, DiskStatsLine& line);

struct DiskCountsLine {
  const char* name = nullptr;  // points into the parsed text, not terminated
  std::size_t nameLength = 0;
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
};

// Parses "NAME READS WRITES" (decimal, 64-bit, blank-separated, nothing
// after). False for anything else, by the same rules as a diskstats line.
bool ParseDiskCountsLine(const char* begin, const char* end, DiskCountsLine& line);
