#include "linux/disk_stats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>

namespace {

// The --verbose lines of one disk: its fields in the kernel's order, under
// the names WMI's disk performance class gives the same quantities. Counts
// print as the 32-bit integers WMI has; byte counts and times are 64-bit,
// which WMI hands over as text.
enum class FieldUse { Count, Bytes, Number };
struct FieldProperty {
  const wchar_t* name;
  FieldUse use;
};
constexpr FieldProperty FIELD_PROPERTIES[DISK_STATS_MAX_FIELDS] = {
    {L"ReadCount", FieldUse::Count},      {L"ReadsMerged", FieldUse::Count},     {L"BytesRead", FieldUse::Bytes},
    {L"ReadTime", FieldUse::Number},      {L"WriteCount", FieldUse::Count},      {L"WritesMerged", FieldUse::Count},
    {L"BytesWritten", FieldUse::Bytes},   {L"WriteTime", FieldUse::Number},      {L"QueueDepth", FieldUse::Count},
    {L"IoTime", FieldUse::Number},        {L"WeightedIoTime", FieldUse::Number}, {L"DiscardCount", FieldUse::Count},
    {L"DiscardsMerged", FieldUse::Count}, {L"BytesDiscarded", FieldUse::Bytes},  {L"DiscardTime", FieldUse::Number},
    {L"FlushCount", FieldUse::Count},     {L"FlushTime", FieldUse::Number},
};

// The kernel's order: reads, merged, sectors read, read ms, writes, ...
constexpr int READS_FIELD = 0;
constexpr int SECTORS_READ_FIELD = 2;
constexpr int WRITES_FIELD = 4;
constexpr int SECTORS_WRITTEN_FIELD = 6;
constexpr int IO_TIME_FIELD = 9;  // milliseconds with I/O in flight

void PrintDiskLines(std::FILE* out, const DiskStatsLine& line) {
  wchar_t deviceName[DISK_NAME_MAX + 1];
  std::size_t i = 0;
  for (; i < line.nameLength; ++i) deviceName[i] = static_cast<unsigned char>(line.name[i]);
  deviceName[i] = L'\0';
  std::fwprintf(out, L"\t%ls\t= %ls\n", L"DeviceName", deviceName);
  for (int field = 0; field < line.fieldCount; ++field) {
    const FieldProperty& property = FIELD_PROPERTIES[field];
    const std::uint64_t value = line.fields[field];
    switch (property.use) {
      case FieldUse::Count:
        std::fwprintf(out, L"\t%ls\t= %d\n", property.name, static_cast<int>(static_cast<std::uint32_t>(value)));
        break;
      case FieldUse::Bytes:
        std::fwprintf(out, L"\t%ls\t= %llu\n", property.name, static_cast<unsigned long long>(value) * SECTOR_BYTES);
        break;
      case FieldUse::Number:
        std::fwprintf(out, L"\t%ls\t= %llu\n", property.name, static_cast<unsigned long long>(value));
        break;
    }
  }
}

constexpr char NOT_REGULAR[] = "not a regular file";

bool OutOfResources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// Opens path for reading only when it is a regular file, as the kernel's
// counter file is: open() of a FIFO waits for a writer (for good, with the
// end signals blocked), and a device such as /dev/zero never ends. The path
// is looked at before it is opened, since opening some devices does
// something; the open does not wait, should the path change in between, and
// what was opened is looked at again. On a regular file O_NONBLOCK changes
// nothing.
unique_fd OpenRegularFile(const char* path, struct stat& opened, std::string& failure) {
  struct stat named {};
  if (stat(path, &named) != 0) {
    failure = std::strerror(errno);
    return {};
  }
  if (!S_ISREG(named.st_mode)) {
    failure = NOT_REGULAR;
    return {};
  }
  unique_fd file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file) {
    failure = std::strerror(errno);
    return file;
  }
  if (fstat(file.get(), &opened) != 0) {
    failure = std::strerror(errno);
    file.reset();
  } else if (!S_ISREG(opened.st_mode)) {
    failure = NOT_REGULAR;
    file.reset();
  }
  return file;
}

}  // namespace

bool IsPhysicalDisk(const char* sysBlockRoot, const char* name, std::size_t nameLength) {
  // A NUL would end the path early and make "sda<NUL>x" ask about sda; no
  // kernel name holds one.
  if (nameLength == 0 || std::memchr(name, '/', nameLength) != nullptr ||
      std::memchr(name, '\0', nameLength) != nullptr) {
    return false;
  }
  if ((nameLength == 1 && name[0] == '.') || (nameLength == 2 && name[0] == '.' && name[1] == '.')) return false;
  char path[PATH_MAX];
  const int length =
      std::snprintf(path, sizeof path, "%s/%.*s/device", sysBlockRoot, static_cast<int>(nameLength), name);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return false;
  return access(path, F_OK) == 0;
}

std::string KernelNameOf(const std::string& given) {
  if (given.find('/') == std::string::npos) return given;
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(given.c_str(), nullptr), &std::free);
  if (!resolved) return {};
  const char* slash = std::strrchr(resolved.get(), '/');
  return slash != nullptr ? slash + 1 : resolved.get();
}

CDiskStatsSource::CDiskStatsSource(std::string diskStatsPath, std::string sysBlockRoot, std::FILE* warnings)
    : diskStatsPath(std::move(diskStatsPath)), sysBlockRoot(std::move(sysBlockRoot)), warnings(warnings) {}

bool CDiskStatsSource::Open() {
  if (fd) return true;
  struct stat opened {};
  errno = 0;
  fd = OpenRegularFile(diskStatsPath.c_str(), opened, openFailure);
  if (!fd) {
    openMayWorkLater = OutOfResources(errno);
    return false;
  }
  openFile = {opened.st_dev, opened.st_ino};
  // Room for a few dozen devices; the first read grows it if the file is larger.
  text.resize(8192);
  devices.reserve(32);
  disks.reserve(32);
  CheckSysBlock();
  return true;
}

void CDiskStatsSource::CountOnly(const std::vector<std::string>& names) {
  named.clear();
  for (const std::string& name : names) named.push_back({name, KernelNameOf(name)});
  seenInPoll.assign(named.size(), false);
  devices.clear();
}

bool CDiskStatsSource::IsNamed(const char* name, std::size_t nameLength) {
  return std::any_of(named.begin(), named.end(), [name, nameLength](const NamedDisk& disk) {
    return disk.kernelName.size() == nameLength && std::memcmp(disk.kernelName.data(), name, nameLength) == 0;
  });
}

void CDiskStatsSource::MarkPresent(const char* name) {
  for (std::size_t i = 0; i < named.size(); ++i) {
    if (named[i].kernelName == name) seenInPoll[i] = true;
  }
}

void CDiskStatsSource::SayAbsentNames() {
  bool resolvedAnew = false;
  for (std::size_t i = 0; i < named.size(); ++i) {
    NamedDisk& disk = named[i];
    const bool present = seenInPoll[i];
    seenInPoll[i] = false;
    if (present != disk.present && !present && warnings != nullptr) {
      std::fprintf(warnings, "gleamo: %s: not present\n", disk.given.c_str());
    }
    disk.present = present;
    // A link in /dev/disk may lead to another device once the disk is
    // plugged in again: looked at on the path check's beat.
    if (!present && pollsSincePathCheck == 0 && disk.given.find('/') != std::string::npos) {
      std::string kernelName = KernelNameOf(disk.given);
      if (kernelName != disk.kernelName) {
        disk.kernelName = std::move(kernelName);
        resolvedAnew = true;
      }
    }
  }
  if (resolvedAnew) devices.clear();  // every name is asked again
}

void CDiskStatsSource::CheckSysBlock() {
  // Without block devices to look at, no line is a disk and the icon stays
  // idle for good: worth a word.
  const unique_dir directory(opendir(sysBlockRoot.c_str()));
  if (!directory) {
    const int error = errno;
    // Looking up each disk takes no descriptor: they are still counted.
    if (OutOfResources(error)) return;
    said.Say(Trouble::NO_BLOCK_DEVICES, warnings,
             "gleamo: cannot list the block devices in %s (%s); no disk is counted\n", sysBlockRoot.c_str(),
             std::strerror(error));
    return;
  }
  while (const dirent* entry = readdir(directory.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) return;
  }
  said.Say(Trouble::NO_BLOCK_DEVICES, warnings, "gleamo: %s lists no block devices; no disk is counted\n",
           sysBlockRoot.c_str());
}

void CDiskStatsSource::FollowPath() {
  struct stat named {};
  // Nothing at the path (/proc itself unmounted): the open file is all there is.
  if (stat(diskStatsPath.c_str(), &named) != 0) return;
  if (named.st_dev == openFile.device && named.st_ino == openFile.inode) return;
  struct stat opened {};
  std::string failure;
  unique_fd replacement = OpenRegularFile(diskStatsPath.c_str(), opened, failure);
  if (!replacement) {
    said.Say(Trouble::REPLACEMENT_UNREADABLE, warnings,
             "gleamo: %s now names another file, which cannot be read (%s); still reading the old one\n",
             diskStatsPath.c_str(), failure.c_str());
    return;
  }
  fd = std::move(replacement);
  openFile = {opened.st_dev, opened.st_ino};
  ++fileGeneration;
}

bool CDiskStatsSource::ReadAll() {
  for (;;) {
    // A proc file is generated afresh on each read from offset 0; reading in
    // pieces could mix two generations.
    const ssize_t got = pread(fd.get(), text.data(), text.size(), 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    const auto length = static_cast<std::size_t>(got);
    if (length < text.size()) {
      textLength = length;
      return true;
    }
    if (text.size() > DISK_STATS_MAX_BYTES) {
      // A byte past the cap came back. Only whole lines of the part within
      // it count: a line cut short could still parse, with a smaller number.
      said.Say(Trouble::TOO_LARGE, warnings, "gleamo: %s is larger than %zu KiB; only its first %zu KiB are read\n",
               diskStatsPath.c_str(), DISK_STATS_MAX_BYTES / 1024, DISK_STATS_MAX_BYTES / 1024);
      const void* lastFeed = memrchr(text.data(), '\n', text.size());
      textLength = lastFeed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lastFeed) - text.data()) : 0;
      return true;
    }
    text.resize(std::min(text.size() * 2, DISK_STATS_MAX_BYTES + 1));
  }
}

bool CDiskStatsSource::IsCountedAt(std::size_t index, const DiskStatsLine& line) {
  // The list keeps its order from tick to tick, so the device at the same
  // position is almost always the one already looked at.
  if (index < devices.size()) {
    KnownDevice& known = devices[index];
    if (known.nameLength == line.nameLength && std::memcmp(known.name, line.name, line.nameLength) == 0) {
      return known.counted;
    }
  } else {
    devices.resize(index + 1);
  }
  KnownDevice& known = devices[index];
  if (!named.empty()) {
    std::memcpy(known.name, line.name, line.nameLength);
    known.name[line.nameLength] = '\0';
    known.nameLength = line.nameLength;
    known.counted = IsNamed(line.name, line.nameLength);
    return known.counted;
  }
  if (lookupsLeft == 0) {
    known.nameLength = 0;  // a later poll looks it up
    return false;
  }
  --lookupsLeft;
  std::memcpy(known.name, line.name, line.nameLength);
  known.name[line.nameLength] = '\0';
  known.nameLength = line.nameLength;
  known.counted = IsPhysicalDisk(sysBlockRoot.c_str(), line.name, line.nameLength);
  return known.counted;
}

bool CDiskStatsSource::Read(PollTotals& totals, std::FILE* out) {
  if (!fd) return false;
  // Not on every tick: an ordinary tick makes one system call here, the
  // read, and the path check would be a second.
  if (++pollsSincePathCheck == DISK_STATS_PATH_CHECK_POLLS) {
    pollsSincePathCheck = 0;
    FollowPath();
  }
  if (!ReadAll()) {
    const int error = errno;
    said.Say(Trouble::READ_FAILED, warnings, "gleamo: cannot read %s: %s\n", diskStatsPath.c_str(),
             std::strerror(error));
    return false;
  }
  totals = PollTotals{};
  disks.clear();
  const char* at = text.data();
  const char* const end = at + textLength;
  std::size_t index = 0;
  lookupsLeft = DISK_STATS_LOOKUPS_PER_POLL;
  while (at < end) {
    // A blank line costs a byte, not a search and a parse.
    if (*at == '\n') {
      ++at;
      continue;
    }
    const char* lineEnd = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    if (lineEnd == nullptr) lineEnd = end;
    DiskStatsLine line;
    if (ParseDiskStatsLine(at, lineEnd, line)) {
      if (index == DISK_STATS_MAX_DEVICES) {
        said.Say(Trouble::TOO_MANY_DEVICES, warnings,
                 "gleamo: %s lists more than %zu devices; the rest are not counted\n", diskStatsPath.c_str(),
                 DISK_STATS_MAX_DEVICES);
        break;
      }
      if (IsCountedAt(index, line)) {
        // The totals are taken modulo 2^32, as WMI's 32-bit counts add up.
        totals.readTotal += static_cast<std::uint32_t>(line.fields[READS_FIELD]);
        totals.writeTotal += static_cast<std::uint32_t>(line.fields[WRITES_FIELD]);
        ++totals.instanceCount;
        totals.instanceSignature += InstanceNameHash(line.name, line.nameLength);
        if (out != nullptr) PrintDiskLines(out, line);
        const KnownDevice& known = devices[index];
        DiskCounters& disk = disks.emplace_back();
        std::memcpy(disk.name, known.name, known.nameLength + 1);
        disk.sectorsRead = line.fields[SECTORS_READ_FIELD];
        disk.sectorsWritten = line.fields[SECTORS_WRITTEN_FIELD];
        disk.ioMilliseconds = line.fields[IO_TIME_FIELD];
        if (!named.empty()) MarkPresent(disk.name);
      }
      ++index;
    }
    at = lineEnd + (lineEnd < end ? 1 : 0);
  }
  // The file is part of the set of instances: after the path has led to
  // another file, the first poll compares totals of two files and must
  // measure nothing, whatever disks both name.
  totals.instanceSignature += std::uint64_t{fileGeneration} * 0x9E3779B97F4A7C15u;
  if (!named.empty()) SayAbsentNames();
  return true;
}

ActivitySample ConnectAndPoll(CDiskStatsSource& source, CounterScale& scale, std::FILE* connectionOut, std::FILE* out) {
  if (connectionOut != nullptr) std::fwprintf(connectionOut, L"Connecting to %s...\n", source.Path().c_str());
  if (!source.Open()) {
    if (connectionOut != nullptr) {
      std::fwprintf(connectionOut, L"\nFailed to connect with %s, Error: %s\n", source.Path().c_str(),
                    source.OpenFailure().c_str());
    }
    return 0;
  }
  if (connectionOut != nullptr) std::fwprintf(connectionOut, L"\nConnected with %s\n", source.Path().c_str());
  return PollDiskCounters(source, scale, out);
}

ActivitySample PollDiskCounters(CDiskStatsSource& source, CounterScale& scale, std::FILE* out) {
  // Without a connection there is nothing to poll: the last sample keeps the
  // icon idle.
  if (!source.IsOpen()) return static_cast<ActivitySample>(scale.lastSample);
  PollTotals totals;
  if (!source.Read(totals, out)) {
    if (out != nullptr) std::fwprintf(out, L"Can't read %s!\n", source.Path().c_str());
    return static_cast<ActivitySample>(scale.lastSample);
  }
  return ScaleCounters(scale, totals);
}

namespace {

// Three significant digits in the unit people read: "512 B/s", "12.3 MB/s".
void AppendRate(std::string& text, double bytesPerSecond) {
  static constexpr const char* UNITS[] = {"B/s", "kB/s", "MB/s", "GB/s"};
  std::size_t unit = 0;
  double value = bytesPerSecond;
  while (unit + 1 < std::size(UNITS) && value >= 999.5) {
    value /= 1000;
    ++unit;
  }
  const int decimals = unit == 0 || value >= 99.95 ? 0 : value >= 9.995 ? 1 : 2;
  char number[32];
  std::snprintf(number, sizeof number, "%.*f %s", decimals, value, UNITS[unit]);
  text += number;
}

std::uint64_t Increase(std::uint64_t now, std::uint64_t before) {
  return now >= before ? now - before : 0;  // a disk replaced under the same name
}

}  // namespace

bool CDiskTooltip::Refresh(const CDiskStatsSource& source, std::uint64_t nowUsec) {
  const std::vector<DiskCounters>& disks = source.Disks();
  const std::vector<NamedDisk>& named = source.Named();
  if (started && nowUsec - lastUsec < REFRESH_USEC) return false;
  std::vector<bool> present(named.size());
  for (std::size_t i = 0; i < named.size(); ++i) present[i] = named[i].present;
  const bool sameCounters =
      started && disks.size() == last.size() && present == lastPresent &&
      std::equal(disks.begin(), disks.end(), last.begin(), [](const DiskCounters& a, const DiskCounters& b) {
        return a.sectorsRead == b.sectorsRead && a.sectorsWritten == b.sectorsWritten &&
               a.ioMilliseconds == b.ioMilliseconds && std::strcmp(a.name, b.name) == 0;
      });
  const double seconds = started ? static_cast<double>(nowUsec - lastUsec) / 1e6 : 0;
  lastUsec = nowUsec;
  // Nothing moved since text with rates of 0: the same text again.
  if (sameCounters && lastAtRest) return false;

  std::string next = title;
  double readTotal = 0;
  double writeTotal = 0;
  bool atRest = true;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const DiskCounters& disk = disks[i];
    // The same disk at the same place, as almost always; a disk new since
    // the last refresh shows no rate yet rather than its lifetime's work.
    const DiskCounters* before = i < last.size() && std::strcmp(last[i].name, disk.name) == 0 ? &last[i] : nullptr;
    for (std::size_t j = 0; before == nullptr && j < last.size(); ++j) {
      if (std::strcmp(last[j].name, disk.name) == 0) before = &last[j];
    }
    double read = 0;
    double written = 0;
    double busy = 0;
    if (before != nullptr && seconds > 0) {
      read = static_cast<double>(Increase(disk.sectorsRead, before->sectorsRead) * SECTOR_BYTES) / seconds;
      written = static_cast<double>(Increase(disk.sectorsWritten, before->sectorsWritten) * SECTOR_BYTES) / seconds;
      busy = std::min(100.0, static_cast<double>(Increase(disk.ioMilliseconds, before->ioMilliseconds)) / seconds / 10);
    }
    readTotal += read;
    writeTotal += written;
    if (read > 0 || written > 0 || busy > 0) atRest = false;
    if (i >= MOST_DISK_LINES) continue;
    next += '\n';
    next += disk.name;
    next += "  read ";
    AppendRate(next, read);
    next += "  write ";
    AppendRate(next, written);
    char share[24];
    std::snprintf(share, sizeof share, "  busy %.0f %%", busy);
    next += share;
  }
  if (disks.size() > MOST_DISK_LINES) next += "\nand " + std::to_string(disks.size() - MOST_DISK_LINES) + " more";
  if (disks.size() > 1) {
    next += "\ntotal  read ";
    AppendRate(next, readTotal);
    next += "  write ";
    AppendRate(next, writeTotal);
  }
  for (const NamedDisk& disk : named) {
    if (!disk.present) next += '\n' + disk.given + ": not present";
  }
  started = true;
  last = disks;
  lastPresent = std::move(present);
  lastAtRest = atRest;
  if (next == text) return false;
  text = std::move(next);
  return true;
}
