#include "activity/disk_stats_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>

#include "activity/counter_walk.h"

namespace {

// The properties of one disk, in the kernel's order, under the names WMI's
// disk performance class gives the same quantities. Counts are 32-bit
// integers there and here; byte counts and times are 64-bit, which WMI
// hands over as text, and so do we.
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

// Decimal digits of a 64-bit value into a wide buffer of at least 21 characters.
const wchar_t* FormatDecimal(std::uint64_t value, wchar_t* buffer, std::size_t size) {
  wchar_t* at = buffer + size - 1;
  *at = L'\0';
  do {
    *--at = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  return at;
}

CounterProperty Property(const wchar_t* name) {
  return {name, std::wcslen(name) * sizeof(wchar_t), PropertyKind::Other, 0, L""};
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

CDiskStatsSource::CDiskStatsSource(std::string diskStatsPath, std::string sysBlockRoot)
    : diskStatsPath(std::move(diskStatsPath)), sysBlockRoot(std::move(sysBlockRoot)) {}

bool CDiskStatsSource::Open() {
  if (fd) return true;
  fd.reset(open(diskStatsPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  // Room for a few dozen devices; the first read grows it if the file is larger.
  text.resize(8192);
  devices.reserve(32);
  return true;
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
    if (static_cast<std::size_t>(got) < text.size()) {
      textLength = static_cast<std::size_t>(got);
      return true;
    }
    text.resize(text.size() * 2);
  }
}

bool CDiskStatsSource::IsPhysicalAt(std::size_t index, const DiskStatsLine& line) {
  // The list keeps its order from tick to tick, so the device at the same
  // position is almost always the one already looked at.
  if (index < devices.size()) {
    KnownDevice& known = devices[index];
    if (known.nameLength == line.nameLength && std::memcmp(known.name, line.name, line.nameLength) == 0) {
      return known.physical;
    }
  } else {
    devices.resize(index + 1);
  }
  KnownDevice& known = devices[index];
  std::memcpy(known.name, line.name, line.nameLength);
  known.name[line.nameLength] = '\0';
  known.nameLength = line.nameLength;
  known.physical = IsPhysicalDisk(sysBlockRoot.c_str(), line.name, line.nameLength);
  return known.physical;
}

void CDiskStatsSource::WalkDisk(std::FILE* out, const DiskStatsLine& line, CounterScale& scale) {
  CountInstance(scale);
  wchar_t deviceName[DISK_NAME_MAX + 1];
  std::size_t i = 0;
  for (; i < line.nameLength; ++i) deviceName[i] = static_cast<unsigned char>(line.name[i]);
  deviceName[i] = L'\0';
  CounterProperty name = Property(L"DeviceName");
  name.kind = PropertyKind::Text;
  name.text = deviceName;
  TallyCounterProperty(out, name, scale);

  wchar_t digits[24];
  for (int field = 0; field < line.fieldCount; ++field) {
    CounterProperty property = Property(FIELD_PROPERTIES[field].name);
    const std::uint64_t value = line.fields[field];
    switch (FIELD_PROPERTIES[field].use) {
      case FieldUse::Count:
        // WMI's counts are 32-bit; the sums are taken modulo 2^32 anyway.
        property.kind = PropertyKind::Int32;
        property.integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        break;
      case FieldUse::Bytes:
      case FieldUse::Number:
        property.kind = PropertyKind::Text;
        // Only printed: not worth formatting when nothing is printed.
        if (out != nullptr) {
          const std::uint64_t shown = FIELD_PROPERTIES[field].use == FieldUse::Bytes ? value * SECTOR_BYTES : value;
          property.text = FormatDecimal(shown, digits, sizeof digits / sizeof digits[0]);
        }
        break;
    }
    TallyCounterProperty(out, property, scale);
  }
}

bool CDiskStatsSource::Walk(std::FILE* out, CounterScale& scale) {
  if (!fd || !ReadAll()) return false;
  const char* at = text.data();
  const char* const end = at + textLength;
  std::size_t index = 0;
  while (at < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    if (lineEnd == nullptr) lineEnd = end;
    DiskStatsLine line;
    if (ParseDiskStatsLine(at, lineEnd, line)) {
      if (IsPhysicalAt(index, line)) WalkDisk(out, line, scale);
      ++index;
    }
    at = lineEnd + (lineEnd < end ? 1 : 0);
  }
  return true;
}

ActivitySample ConnectAndPoll(CDiskStatsSource& source, std::FILE* connectionOut, std::FILE* out) {
  if (connectionOut != nullptr) std::fwprintf(connectionOut, L"Connecting to %s...\n", source.Path().c_str());
  if (!source.Open()) {
    const int error = errno;
    if (connectionOut != nullptr) {
      std::fwprintf(connectionOut, L"\nFailed to connect with %s, Error: %s\n", source.Path().c_str(),
                    std::strerror(error));
    }
    return 0;
  }
  if (connectionOut != nullptr) std::fwprintf(connectionOut, L"\nConnected with %s\n", source.Path().c_str());
  return PollDiskCounters(source, out);
}

ActivitySample PollDiskCounters(CDiskStatsSource& source, std::FILE* out) {
  // Without a connection there is nothing to poll: the last sample keeps the
  // icon idle.
  if (!source.IsOpen()) return static_cast<ActivitySample>(counterScale.lastSample);
  StartCounterPoll(counterScale);
  if (!source.Walk(out, counterScale)) {
    if (out != nullptr) std::fwprintf(out, L"Can't read %s!\n", source.Path().c_str());
    return static_cast<ActivitySample>(counterScale.lastSample);
  }
  return ScaleCounters(counterScale);
}
