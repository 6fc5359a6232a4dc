// The per-tick poll of the disks' operation counters through WMI.
#pragma once

#include <wbemidl.h>

#include "common/gleamo_types.h"

// How long one step of the instance enumeration may wait for WMI. A step
// that times out ends the poll as a failed one, so that a WMI that stops
// answering holds up the program's only thread for seconds, not for good.
constexpr LONG INSTANCE_WAIT_MS = 2000;

// Sums ReadCount and WriteCount of every MSDiskDriver_Performance instance,
// scales the change into counterScale's bar heights and returns the sample.
// A null services pointer (no connection) returns the last sample and
// changes nothing; so does every poll that fails.
ActivitySample PollDiskCounters(IWbemServices* services);

// Whether the last PollDiskCounters completed: read the counters and scaled
// them.
extern bool lastPollCompleted;

// Walks the properties of one PerfData object: one line per property on
// standard output, ReadCount and WriteCount added to the poll's totals.
void SumPerfDataCounters(IWbemClassObject* perfData);
