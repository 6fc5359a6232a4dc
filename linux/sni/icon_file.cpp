#include "linux/sni/icon_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
    return entries;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t Adler32(const std::vector<std::uint8_t>& data) {
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const IconPixmap& pixmap) {
  const auto side = static_cast<std::size_t>(pixmap.size);
  // Each row: filter 0 (none), then RGBA from the pixmap's ARGB.
  std::vector<std::uint8_t> rows;
  rows.reserve(side * (1 + side * 4));
  for (std::size_t y = 0; y < side; ++y) {
    rows.push_back(0);
    for (std::size_t x = 0; x < side; ++x) {
      const std::uint8_t* argb = &pixmap.argb[(y * side + x) * 4];
      rows.insert(rows.end(), {argb[1], argb[2], argb[3], argb[0]});
    }
  }
  // A zlib stream of stored deflate blocks, 65535 bytes each at most.
  std::vector<std::uint8_t> stream{0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t length = std::min<std::size_t>(rows.size() - at, 65535);
    const bool last = at + length == rows.size();
    stream.push_back(last ? 1 : 0);
    stream.push_back(static_cast<std::uint8_t>(length));
    stream.push_back(static_cast<std::uint8_t>(length >> 8));
    stream.push_back(static_cast<std::uint8_t>(~length));
    stream.push_back(static_cast<std::uint8_t>(~length >> 8));
    stream.insert(stream.end(), rows.begin() + static_cast<std::ptrdiff_t>(at),
                  rows.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  } while (at < rows.size());
  PutBig32(stream, Adler32(rows));

  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(side));
  PutBig32(header, static_cast<std::uint32_t>(side));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter choice, no interlace
  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", stream);
  PutChunk(png, "IEND", {});
  return png;
}

const std::string& CIconFolder::Path() {
  if (tried) return path;
  tried = true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/') return path;
  // One per process: two lamps never share their pictures' lifetime.
  const std::string folder = std::string(runtime) + "/gleamo-" + std::to_string(getpid());
  if (mkdir(folder.c_str(), 0700) != 0) {
    std::fprintf(stderr, "gleamo: cannot make %s for the icon's pictures; the tray gets pixmaps only\n",
                 folder.c_str());
    return path;
  }
  path = folder;
  return path;
}

bool CIconFolder::Write(const std::string& name, const IconPixmap& pixmap) {
  if (written.count(name) != 0) return true;
  if (Path().empty()) return false;
  const std::vector<std::uint8_t> png = EncodePng(pixmap);
  // Under another name first: a host never reads half a picture.
  const std::string file = path + "/" + name + ".png";
  const std::string partial = file + ".part";
  const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool whole = write(fd, png.data(), png.size()) == static_cast<ssize_t>(png.size());
  close(fd);
  if (!whole || rename(partial.c_str(), file.c_str()) != 0) {
    unlink(partial.c_str());
    return false;
  }
  written.insert(name);
  return true;
}

void CIconFolder::Remove() {
  if (path.empty()) return;
  for (const std::string& name : written) unlink((path + "/" + name + ".png").c_str());
  rmdir(path.c_str());
  written.clear();
  path.clear();
  tried = false;
}
