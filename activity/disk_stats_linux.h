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
#include "activity/disk_stats_line.h"
#include "common/gleamo_types.h"
#include "common/unique_handle.h"

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

// The first tick: opens the source with short connection lines on
// connectionOut and makes the first poll with its counter lines on out. A
// source that cannot be opened is a failed connection: 0 is returned and
// every later poll keeps the icon idle.
ActivitySample ConnectAndPoll(CDiskStatsSource& source, std::FILE* connectionOut, std::FILE* out);

// Later ticks: re-reads the counters and scales them into counterScale.
// Without an open source, or when the read fails, the last sample is
// returned and the heights stay as they were.
ActivitySample PollDiskCounters(CDiskStatsSource& source, std::FILE* out);
