// Linux's counter source: the kernel's /proc/diskstats, read anew each tick
// and fed through the same property walk and scaling as the WMI poll.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "activity/counter_scale.h"
#include "common/gleamo_types.h"
#include "common/unique_handle.h"

// The numeric fields after the name: kernels before 4.18 print 11, 4.18 adds
// four discard fields (15), 5.5 two flush fields (17).
constexpr int DISK_STATS_MIN_FIELDS = 11;
constexpr int DISK_STATS_MAX_FIELDS = 17;
constexpr std::size_t DISK_NAME_MAX = 31;  // the kernel's DISK_NAME_LEN less its terminator

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

// A whole physical disk has a "device" entry in its sysfs block directory;
// partitions, loop, ram, zram and device-mapper devices have none, and
// counting them too would count the same operations twice. Names that could
// leave the directory ("..", a '/') or hold a NUL are never disks.
bool IsPhysicalDisk(const char* sysBlockRoot, const char* name, std::size_t nameLength);

class CDiskStatsSource {
 public:
  CDiskStatsSource(std::string diskStatsPath, std::string sysBlockRoot);
  CDiskStatsSource(const CDiskStatsSource&) = delete;
  CDiskStatsSource& operator=(const CDiskStatsSource&) = delete;

  // Opens the file once; every poll re-reads it from the start. False (with
  // errno kept) when it is missing or unreadable.
  bool Open();
  bool IsOpen() const { return static_cast<bool>(fd); }
  const std::string& Path() const { return diskStatsPath; }

  // Reads the file and walks every physical disk as one instance: one line
  // per property on out (none when out is null), ReadCount and WriteCount
  // added to scale's totals, which the caller has reset. False when the
  // read fails; the totals then hold whatever was added before.
  bool Walk(std::FILE* out, CounterScale& scale);

 private:
  struct KnownDevice {
    char name[DISK_NAME_MAX + 1];
    std::size_t nameLength;
    bool physical;
  };

  bool ReadAll();
  bool IsPhysicalAt(std::size_t index, const DiskStatsLine& line);
  void WalkDisk(std::FILE* out, const DiskStatsLine& line, CounterScale& scale);

  std::string diskStatsPath;
  std::string sysBlockRoot;
  unique_handle<int, call_release<&close>, -1> fd;
  std::vector<char> text;  // grows only when the file outgrows it
  std::size_t textLength = 0;
  std::vector<KnownDevice> devices;  // by line: the filter asks sysfs only about a new name
};

// The first tick: opens the source with short connection lines on out and
// makes the first poll. A source that cannot be opened is a failed
// connection: 0 is returned and every later poll keeps the icon idle.
ActivitySample ConnectAndPoll(CDiskStatsSource& source, std::FILE* out);

// Later ticks: re-reads the counters and scales them into counterScale.
// Without an open source, or when the read fails, the last sample is
// returned and the heights stay as they were.
ActivitySample PollDiskCounters(CDiskStatsSource& source, std::FILE* out);
