// Prints the pixmaps the tray item should carry for an icon code, as two
// lines of hex (16x16, then 32x32), for the D-Bus tests to compare with:
//   gleamo_test_pixmap ICONCODE
#include <cstdio>
#include <cstdlib>

#include "tray/icon_pixmap_linux.h"
#include "tray/icon_raster.h"
#include "tray/xembed_tray_linux.h"

namespace {

void PrintHex(const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) std::printf("%02x", bytes[i]);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  // With a window size: the picture as the XEmbed icon window of that size
  // shows it, as one line of ARGB hex (transparent where the tray shows).
  //   gleamo_test_pixmap ICONCODE WIDTHxHEIGHT
  int width = 0, height = 0;
  if (argc == 3 && std::sscanf(argv[2], "%dx%d", &width, &height) == 2) {
    const IconRaster raster = PaintIconRaster("TAV", "OLI", std::atoi(argv[1]));
    const WindowPlacement placement = PlaceIconInWindow(width, height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int modelX = (x - placement.left) / placement.factor, modelY = (y - placement.top) / placement.factor;
        const bool inside = x >= placement.left && y >= placement.top && modelX < ICON_SIZE && modelY < ICON_SIZE;
        if (!inside || !raster.OpaqueAt(modelX, modelY)) {
          std::printf("00000000");
          continue;
        }
        const Rgb color = raster.ColorAt(modelX, modelY);
        std::printf("ff%02x%02x%02x", color.red, color.green, color.blue);
      }
    }
    std::printf("\n");
    return 0;
  }
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
