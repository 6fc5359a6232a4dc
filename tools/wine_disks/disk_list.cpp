#include "tools/wine_disks/disk_list.h"

#include "activity/disk_stats_line.h"

namespace {

// Calls take(begin, end) for every line, without its line end; a file
// written on Windows ends its lines with CR LF.
template <typename Take>
void ForEachLine(std::string_view text, Take take) {
  while (!text.empty()) {
    std::size_t length = text.find('\n');
    const std::size_t next = length == std::string_view::npos ? text.size() : length + 1;
    if (length == std::string_view::npos) length = text.size();
    if (length > 0 && text[length - 1] == '\r') --length;
    take(text.data(), text.data() + length);
    text.remove_prefix(next);
  }
}

}  // namespace

std::vector<DiskCounters> DisksFromCountsText(std::string_view text) {
  std::vector<DiskCounters> disks;
  ForEachLine(text, [&disks](const char* begin, const char* end) {
    DiskCountsLine line;
    if (!ParseDiskCountsLine(begin, end, line)) return;
    DiskCounters disk;
    disk.name.assign(line.name, line.nameLength);
    disk.reads = line.reads;
    disk.writes = line.writes;
    disks.push_back(disk);
  });
  return disks;
}

namespace {

// Takes the number of a "WORD NUMBER" line (blanks around; decimal, or
// after 0x hexadecimal; 32-bit) into value; any other line leaves it.
void ReadFaultLine(const char* begin, const char* end, std::string_view word, std::uint32_t& value) {
  std::string_view line(begin, static_cast<std::size_t>(end - begin));
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  if (line.substr(0, word.size()) != word) return;
  line.remove_prefix(word.size());
  if (line.empty() || !blank(line.front())) return;
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  unsigned base = 10;
  if (line.size() > 2 && line[0] == '0' && (line[1] == 'x' || line[1] == 'X')) {
    base = 16;
    line.remove_prefix(2);
  }
  if (line.empty()) return;
  std::uint64_t number = 0;
  for (const char c : line) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return;
    }
    number = number * base + digit;
    if (number > 0xFFFFFFFFu) return;
  }
  value = static_cast<std::uint32_t>(number);
}

}  // namespace

WmiFaults FaultsFromCountsText(std::string_view text) {
  WmiFaults faults;
  ForEachLine(text, [&faults](const char* begin, const char* end) {
    ReadFaultLine(begin, end, "refuse-connect", faults.refusedConnections);
    ReadFaultLine(begin, end, "fail-enum", faults.enumFailure);
    ReadFaultLine(begin, end, "stall-next", faults.stallMs);
  });
  return faults;
}

std::vector<DiskCounters> DisksFromDiskStats(std::string_view text,
                                             const std::function<bool(const std::string&)>& isWholeDisk) {
  std::vector<DiskCounters> disks;
  ForEachLine(text, [&](const char* begin, const char* end) {
    DiskStatsLine line;
    if (!ParseDiskStatsLine(begin, end, line)) return;
    DiskCounters disk;
    disk.name.assign(line.name, line.nameLength);
    if (!isWholeDisk(disk.name)) return;
    // The kernel's order: reads, merged, sectors read, read ms, writes,
    // merged, sectors written, write ms, in flight, io ms, ...
    disk.reads = line.fields[0];
    disk.bytesRead = line.fields[2] * SECTOR_BYTES;
    disk.readTimeMs = line.fields[3];
    disk.writes = line.fields[4];
    disk.bytesWritten = line.fields[6] * SECTOR_BYTES;
    disk.writeTimeMs = line.fields[7];
    disk.inFlight = line.fields[8];
    disk.ioTimeMs = line.fields[9];
    disks.push_back(disk);
  });
  return disks;
}
