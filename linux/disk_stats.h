// Linux's counter source: the kernel's /proc/diskstats, read anew each tick;
// its totals go straight to the same scaling as the WMI poll's.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "activity/counter_scale.h"
#include "activity/disk_stats_line.h"
#include "common/gleamo_types.h"
#include "linux/posix_handles.h"
#include "linux/said_once.h"

// A whole physical disk has a "device" entry in its sysfs block directory;
// partitions, loop, ram, zram and device-mapper devices have none, and
// counting them too would count the same operations twice. Names that could
// leave the directory ("..", a '/') or hold a NUL are never disks.
bool IsPhysicalDisk(const char* sysBlockRoot, const char* name, std::size_t nameLength);

// The most of the counter file one poll reads. A real machine's file holds
// about 100 bytes a device, a few kilobytes in all; this is room for every
// device remembered below even with all its counters large, and it bounds
// what any file put over the path, however large, costs a tick.
constexpr std::size_t DISK_STATS_MAX_BYTES = std::size_t{1} << 20;
// Devices remembered by their position in the file; lines past them are not
// counted. Far more than the block devices of any desktop or server.
constexpr std::size_t DISK_STATS_MAX_DEVICES = 4096;
// Names looked up in sysfs in one poll, a file access of a microsecond or
// two each; names new at their position beyond them are not counted until
// a later poll has looked them up. More than almost any machine has block
// devices, so the first poll counts every disk.
constexpr std::size_t DISK_STATS_LOOKUPS_PER_POLL = 1024;
// Every this many polls (2.4 s at the fast tick) the path is looked at again
// for another file than the one open: a bind mount removed or a file
// renamed over the path leaves the descriptor on the old one.
constexpr unsigned DISK_STATS_PATH_CHECK_POLLS = 16;

// One counted disk's counters in the last poll, for the tooltip's rates:
// sectors of 512 bytes read and written, and milliseconds spent doing I/O.
struct DiskCounters {
  char name[DISK_NAME_MAX + 1];
  std::uint64_t sectorsRead;
  std::uint64_t sectorsWritten;
  std::uint64_t ioMilliseconds;
};

// A disk named with --disk: as given, and the kernel name it stands for
// (empty while a path leads nowhere).
struct NamedDisk {
  std::string given;
  std::string kernelName;
  bool present = true;  // in the last poll; an absence is said once, until it comes back
};

// The kernel name a --disk value stands for: a name as it is, a path
// (/dev/sdb, /dev/disk/by-id/..., /dev/mapper/...) by the device it leads
// to; empty when it leads nowhere.
std::string KernelNameOf(const std::string& given);

class CDiskStatsSource {
 public:
  // Each kind of trouble with the files (too large, unreadable, no block
  // devices...) is said once, on warnings (none when null).
  CDiskStatsSource(std::string diskStatsPath, std::string sysBlockRoot, std::FILE* warnings = stderr);
  CDiskStatsSource(const CDiskStatsSource&) = delete;
  CDiskStatsSource& operator=(const CDiskStatsSource&) = delete;

  // Opens the file once, without waiting; every poll re-reads it from the
  // start. False when it is missing, cannot be opened or is not a regular
  // file (a FIFO, a device); OpenFailure() then says why.
  bool Open();
  // Counts only these disks, partitions and mapped devices included, in
  // place of every whole physical disk. Before Open.
  void CountOnly(const std::vector<std::string>& names);
  bool IsOpen() const { return static_cast<bool>(fd); }
  const std::string& Path() const { return diskStatsPath; }
  const std::string& OpenFailure() const { return openFailure; }
  // The open failed for want of a descriptor or memory, which a later try
  // may find.
  bool OpenMayWorkLater() const { return openMayWorkLater; }

  // Reads the file: the read and write totals of every physical disk and
  // the set of disks they came from, and, when out is not null, the disk's
  // properties on it, a line each. False when the read fails.
  bool Read(PollTotals& totals, std::FILE* out);

  // The counted disks of the last poll that read the file, in its order.
  const std::vector<DiskCounters>& Disks() const { return disks; }
  // The disks named with --disk; none when every physical disk counts.
  const std::vector<NamedDisk>& Named() const { return named; }

 private:
  struct KnownDevice {
    char name[DISK_NAME_MAX + 1];
    std::size_t nameLength;  // 0: not looked up yet
    bool counted;
  };
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
  };
  // The same trouble on every tick would fill a session's log.
  enum class Trouble { TOO_LARGE, TOO_MANY_DEVICES, READ_FAILED, REPLACEMENT_UNREADABLE, NO_BLOCK_DEVICES };

  void CheckSysBlock();
  void FollowPath();
  bool IsNamed(const char* name, std::size_t nameLength);
  void MarkPresent(const char* name);
  void SayAbsentNames();
  bool ReadAll();
  bool IsCountedAt(std::size_t index, const DiskStatsLine& line);

  std::string diskStatsPath;
  std::string sysBlockRoot;
  std::FILE* warnings;
  SaidOnce<Trouble> said;
  std::string openFailure;
  bool openMayWorkLater = false;
  unique_fd fd;
  FileIdentity openFile;
  unsigned fileGeneration = 0;  // how often the path has led to another file
  unsigned pollsSincePathCheck = 0;
  std::vector<char> text;  // grows only when the file outgrows it, up to one byte past the cap
  std::size_t textLength = 0;
  std::vector<KnownDevice> devices;  // by line: the filter asks sysfs only about a new name
  std::size_t lookupsLeft = 0;       // in this poll
  std::vector<DiskCounters> disks;
  std::vector<NamedDisk> named;
  std::vector<bool> seenInPoll;  // by named disk
};

// The tooltip: the program's line, then a line a counted disk with its read
// and write rates and busy share since the last refresh (at most eight, a
// total line when there are several), and a line a named disk that is not
// there. Rates are taken from the counters the poll read.
class CDiskTooltip {
 public:
  static constexpr std::uint64_t REFRESH_USEC = 1'000'000;
  static constexpr std::size_t MOST_DISK_LINES = 8;

  explicit CDiskTooltip(const char* title) : text(title), title(title) {}

  // After every poll, with its CLOCK_MONOTONIC time: the first call shows
  // the disks at rest, later ones refresh at most once a second, and only
  // when a counter or the set of disks changed or the rates were not all
  // 0. True when the text changed.
  bool Refresh(const CDiskStatsSource& source, std::uint64_t nowUsec);
  const std::string& Text() const { return text; }

 private:
  std::string text;
  std::string title;
  std::vector<DiskCounters> last;
  std::vector<bool> lastPresent;
  std::uint64_t lastUsec = 0;
  bool started = false;
  bool lastAtRest = true;  // the last text had only rates of 0
};

// The first tick: opens the source with short connection lines on
// connectionOut and makes the first poll with its counter lines on out. A
// source that cannot be opened is a failed connection: 0 is returned and
// every later poll keeps the icon idle.
ActivitySample ConnectAndPoll(CDiskStatsSource& source, CounterScale& scale, std::FILE* connectionOut, std::FILE* out);

// Later ticks: re-reads the counters and scales them into scale. Without an
// open source, or when the read fails, the last sample is returned and the
// heights stay as they were.
ActivitySample PollDiskCounters(CDiskStatsSource& source, CounterScale& scale, std::FILE* out);
