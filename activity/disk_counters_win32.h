// The per-tick poll of the disks' operation counters through WMI.
#pragma once

#include <wbemidl.h>

#include "common/gleamo_types.h"

// Sums ReadCount and WriteCount of every MSDiskDriver_Performance instance,
// scales the change into counterScale's bar heights and returns the sample.
// A null services pointer (no connection) returns the last sample and
// changes nothing.
ActivitySample PollDiskCounters(IWbemServices* services);

// Walks the properties of one PerfData object: one line per property on
// standard output, ReadCount and WriteCount added to the poll's totals.
void SumPerfDataCounters(IWbemClassObject* perfData);
