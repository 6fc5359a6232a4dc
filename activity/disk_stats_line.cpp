#include "activity/disk_stats_line.h"

#include <climits>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

const char* SkipBlanks(const char* at, const char* end) {
  while (at < end && IsBlank(*at)) ++at;
  return at;
}

// Reads one decimal number; false when there is none or it exceeds 64 bits.
bool ReadNumber(const char*& at, const char* end, std::uint64_t& value) {
  const char* start = at;
  value = 0;
  while (at < end && *at >= '0' && *at <= '9') {
    const auto digit = static_cast<unsigned>(*at - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
    ++at;
  }
  return at != start && (at == end || IsBlank(*at));
}

// The name: every character up to the next blank.
bool ReadName(const char*& at, const char* end, const char*& name, std::size_t& nameLength) {
  name = at;
  while (at < end && !IsBlank(*at)) ++at;
  nameLength = static_cast<std::size_t>(at - name);
  return nameLength != 0 && nameLength <= DISK_NAME_MAX;
}

}  // namespace

bool ParseDiskStatsLine(const char* begin, const char* end, DiskStatsLine& line) {
  const char* at = SkipBlanks(begin, end);
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  if (!ReadNumber(at, end, major) || major > UINT_MAX) return false;
  at = SkipBlanks(at, end);
  if (!ReadNumber(at, end, minor) || minor > UINT_MAX) return false;
  at = SkipBlanks(at, end);
  const char* name = nullptr;
  std::size_t nameLength = 0;
  if (!ReadName(at, end, name, nameLength)) return false;

  int count = 0;
  for (at = SkipBlanks(at, end); at < end; at = SkipBlanks(at, end)) {
    std::uint64_t value = 0;
    if (!ReadNumber(at, end, value)) return false;
    if (count < DISK_STATS_MAX_FIELDS) line.fields[count] = value;
    ++count;
  }
  if (count < DISK_STATS_MIN_FIELDS) return false;
  line.major = static_cast<unsigned>(major);
  line.minor = static_cast<unsigned>(minor);
  line.name = name;
  line.nameLength = nameLength;
  line.fieldCount = count < DISK_STATS_MAX_FIELDS ? count : DISK_STATS_MAX_FIELDS;
  return true;
}

bool ParseDiskCountsLine(const char* begin, const char* end, DiskCountsLine& line) {
  const char* at = SkipBlanks(begin, end);
  const char* name = nullptr;
  std::size_t nameLength = 0;
  if (!ReadName(at, end, name, nameLength)) return false;
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
  at = SkipBlanks(at, end);
  if (!ReadNumber(at, end, reads)) return false;
  at = SkipBlanks(at, end);
  if (!ReadNumber(at, end, writes)) return false;
  if (SkipBlanks(at, end) != end) return false;
  line.name = name;
  line.nameLength = nameLength;
  line.reads = reads;
  line.writes = writes;
  return true;
}
