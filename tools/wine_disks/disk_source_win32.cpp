#include "tools/wine_disks/disk_source_win32.h"

#include <windows.h>

#include <string>

#include "common/win32_handles.h"

namespace {

constexpr wchar_t DISKS_VARIABLE[] = L"GLEAMO_DISKS";
constexpr wchar_t HOST_DISK_STATS[] = L"Z:\\proc\\diskstats";
constexpr wchar_t HOST_SYS_BLOCK[] = L"Z:\\sys\\block\\";

// The whole file, read to its end: a proc file reports a size of 0.
bool ReadWholeFile(const std::wstring& path, std::string& text) {
  const unique_kernel_handle file(CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || file.get() == INVALID_HANDLE_VALUE) return false;
  text.clear();
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    text.append(buffer, got);
  }
}

// As the Linux edition decides: a whole disk has a "device" entry in its
// sysfs block directory. Names that could leave the directory never do.
bool IsWholeDisk(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos) return false;
  std::wstring path = HOST_SYS_BLOCK;
  for (const char c : name) path += static_cast<wchar_t>(static_cast<unsigned char>(c));
  path += L"\\device";
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The variable's value; empty when it is not set.
std::wstring DisksFilePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetEnvironmentVariableW(DISKS_VARIABLE, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
}

}  // namespace

DiskScript ReadDisks() {
  std::string text;
  const std::wstring scripted = DisksFilePath();
  if (!scripted.empty()) {
    if (!ReadWholeFile(scripted, text)) return {};
    return DiskScript{DisksFromCountsText(text), FaultsFromCountsText(text)};
  }
  if (!ReadWholeFile(HOST_DISK_STATS, text)) return {};
  return DiskScript{DisksFromDiskStats(text, IsWholeDisk), {}};
}
