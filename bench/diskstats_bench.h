// The floor of the Linux counter source: reading /proc/diskstats and
// nothing else. A poll that reads, parses, walks and scales is measured
// against it in the same run.
#pragma once

#include <string>
#include <vector>

constexpr char DISKSTATS_PATH[] = "/proc/diskstats";
// The floor's name in the benchmark output.
constexpr char DISKSTATS_FLOOR_BENCHMARK[] = "BM_DiskstatsPread";

// The whole file from offset 0 into buffer with pread on an open descriptor,
// growing the buffer when the file does not fit; the byte count, or -1.
long PreadWholeFile(int fd, std::vector<char>& buffer);
