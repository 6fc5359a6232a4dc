// The Linux counter source on any bytes as its /proc/diskstats. Every line
// is parsed by ParseDiskStatsLine and, independently, by a plain tokenizer
// here: both must accept the same lines and read the same numbers. Then the
// whole text is walked by CDiskStatsSource against a stand-in /sys/block
// holding two physical disks (sda, nvme0n1) and a loop device: the read and
// write totals must be the sums, modulo 2^32, over the lines naming exactly
// a physical disk, for a fresh source and for one that has walked every
// earlier input (its per-position device memory must never mislead it).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linux/disk_stats.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();  // libFuzzer keeps the input that got here
}

// The reference reading of a line: words split at blanks and tabs; major,
// minor, a name of 1 to 31 bytes, then at least 11 words of decimal digits
// each within 64 bits (major and minor within 32).
struct ReferenceLine {
  bool valid = false;
  std::string name;
  std::vector<std::uint64_t> numbers;  // major, minor, then the fields
};

bool DecimalWord(const std::string& word, std::uint64_t& value) {
  if (word.empty()) return false;
  unsigned __int128 wide = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return false;
    wide = wide * 10 + static_cast<unsigned>(c - '0');
    if (wide > UINT64_MAX) return false;
  }
  value = static_cast<std::uint64_t>(wide);
  return true;
}

ReferenceLine ReadReference(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);

  ReferenceLine line;
  if (words.size() < 3 + static_cast<std::size_t>(DISK_STATS_MIN_FIELDS)) return line;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i == 2) continue;
    std::uint64_t value = 0;
    if (!DecimalWord(words[i], value)) return line;
    line.numbers.push_back(value);
  }
  if (line.numbers[0] > UINT_MAX || line.numbers[1] > UINT_MAX) return line;
  if (words[2].size() > DISK_NAME_MAX) return line;
  line.name = words[2];
  line.valid = true;
  return line;
}

// A private /sys/block and counter file for the whole run.
struct Stage {
  std::string root;
  std::string statsPath;
  std::string blockRoot;

  Stage() {
    char pattern[] = "/tmp/gleamo-diskstats-fuzz-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    root = pattern;
    statsPath = root + "/diskstats";
    blockRoot = root + "/block";
    for (const std::string& directory : {blockRoot, blockRoot + "/sda", blockRoot + "/sda/device",
                                         blockRoot + "/nvme0n1", blockRoot + "/nvme0n1/device", blockRoot + "/loop0"}) {
      Check(mkdir(directory.c_str(), 0755) == 0);
    }
    const int fd = open(statsPath.c_str(), O_CREAT | O_WRONLY, 0644);
    Check(fd >= 0);
    close(fd);
  }
  ~Stage() { std::system(("rm -rf '" + root + "'").c_str()); }
  static Stage& Get() {
    static Stage stage;
    return stage;
  }
  void Write(const std::uint8_t* data, std::size_t size) const {
    const int fd = open(statsPath.c_str(), O_WRONLY | O_TRUNC);
    Check(fd >= 0);
    Check(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
    close(fd);
  }
};

bool IsStagedDisk(const std::string& name) {
  return name == "sda" || name == "nvme0n1";
}

std::FILE* Sink() {
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Stage& stage = Stage::Get();
  const char* const text = reinterpret_cast<const char*>(data);

  std::uint32_t expectedReads = 0;
  std::uint32_t expectedWrites = 0;
  for (std::size_t begin = 0; begin < size;) {
    const void* feed = std::memchr(text + begin, '\n', size - begin);
    const std::size_t end = feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - text) : size;
    // A copy of exactly the line, so that a read past its end is caught.
    const std::vector<char> copy(text + begin, text + end);
    DiskStatsLine line;
    const bool parsed = ParseDiskStatsLine(copy.data(), copy.data() + copy.size(), line);
    const ReferenceLine reference = ReadReference(std::string(copy.begin(), copy.end()));
    Check(parsed == reference.valid);
    if (parsed) {
      Check(line.name >= copy.data() && line.name + line.nameLength <= copy.data() + copy.size());
      Check(std::string(line.name, line.nameLength) == reference.name);
      Check(line.major == reference.numbers[0] && line.minor == reference.numbers[1]);
      const int fieldCount = static_cast<int>(reference.numbers.size()) - 2;
      Check(line.fieldCount == (fieldCount < DISK_STATS_MAX_FIELDS ? fieldCount : DISK_STATS_MAX_FIELDS));
      for (int field = 0; field < line.fieldCount; ++field) Check(line.fields[field] == reference.numbers[field + 2]);
      if (IsStagedDisk(reference.name)) {
        expectedReads += static_cast<std::uint32_t>(line.fields[0]);
        expectedWrites += static_cast<std::uint32_t>(line.fields[4]);
      }
    }
    begin = end + 1;
  }

  stage.Write(data, size);
  // Walked with the lines printed or not, by half of the inputs each: the
  // totals do not depend on it.
  std::FILE* const out = size % 2 == 0 ? Sink() : nullptr;
  CDiskStatsSource fresh(stage.statsPath, stage.blockRoot);
  Check(fresh.Open());
  PollTotals scale;
  Check(fresh.Read(scale, out));
  Check(scale.readTotal == expectedReads && scale.writeTotal == expectedWrites);

  static CDiskStatsSource seasoned(stage.statsPath, stage.blockRoot);
  Check(seasoned.Open());
  PollTotals again;
  Check(seasoned.Read(again, out));
  Check(again.readTotal == expectedReads && again.writeTotal == expectedWrites);
  return 0;
}
