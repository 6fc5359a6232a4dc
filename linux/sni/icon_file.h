// The icon's pictures as PNG files for hosts that cache pictures by name
// (GNOME's extension keys its cache by name, size and folder): each picture
// written once, when first shown, into a folder of gleamo's own under
// XDG_RUNTIME_DIR, which goes with the program.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "linux/icon_pixmap.h"

// An 8-bit RGBA PNG of the pixmap, uncompressed: a few kilobytes at most,
// written once per picture, and nothing for the host to inflate.
std::vector<std::uint8_t> EncodePng(const IconPixmap& pixmap);

class CIconFolder {
 public:
  CIconFolder() = default;
  ~CIconFolder() { Remove(); }
  CIconFolder(const CIconFolder&) = delete;
  CIconFolder& operator=(const CIconFolder&) = delete;

  // The folder's path, made on first use; empty where there is no
  // XDG_RUNTIME_DIR or it cannot be written.
  const std::string& Path();

  // Writes the picture under this name unless it already was; false when
  // it cannot be written.
  bool Write(const std::string& name, const IconPixmap& pixmap);

  // Takes the folder and its pictures away.
  void Remove();

 private:
  std::string path;
  bool tried = false;
  std::set<std::string> written;
};
