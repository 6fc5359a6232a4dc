// Where the provider's counters come from, read afresh on every
// enumeration: the file named by GLEAMO_DISKS, or else the host's
// /proc/diskstats as Wine shows it on drive Z:.
#pragma once

#include <vector>

#include "tools/wine_disks/disk_list.h"

struct DiskScript {
  std::vector<DiskCounters> disks;
  WmiFaults faults;  // only a scripted file has any
};

// No disks when the file is missing or unreadable.
DiskScript ReadDisks();
