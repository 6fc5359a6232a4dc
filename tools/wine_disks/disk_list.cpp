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
