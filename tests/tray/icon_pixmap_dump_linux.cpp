// Prints the pixmaps the tray item should carry for an icon code, one line
// per size ("SIZE HEX", ARGB rows from the top), for the tray tests to
// compare with:
//   gleamo_test_pixmap ICONCODE
#include <cstdio>
#include <cstdlib>

#include "tray/icon_pixmap_linux.h"
#include "tray/icon_raster.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s ICONCODE\n", argv[0]);
    return 2;
  }
  IconPixmaps pixmaps;
  // The labels the controller gives every icon.
  MakeIconPixmaps(PaintIconRaster("TAV", "OLI", std::atoi(argv[1])), pixmaps);
  for (const IconPixmap& pixmap : pixmaps) {
    std::printf("%d ", pixmap.size);
    for (std::uint8_t byte : pixmap.argb) std::printf("%02x", byte);
    std::printf("\n");
  }
  return 0;
}
