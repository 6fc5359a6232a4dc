// Prints the pixmaps the tray item should carry for an icon code, as two
// lines of hex (16x16, then 32x32), for the D-Bus tests to compare with:
//   gleamo_test_pixmap ICONCODE
#include <cstdio>
#include <cstdlib>

#include "tray/icon_pixmap_linux.h"
#include "tray/icon_raster.h"

namespace {

void PrintHex(const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) std::printf("%02x", bytes[i]);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s ICONCODE\n", argv[0]);
    return 2;
  }
  IconPixmaps pixmaps;
  // The labels the controller gives every icon.
  MakeIconPixmaps(PaintIconRaster("TAV", "OLI", std::atoi(argv[1])), pixmaps);
  PrintHex(pixmaps.small.data(), pixmaps.small.size());
  PrintHex(pixmaps.large.data(), pixmaps.large.size());
  return 0;
}
