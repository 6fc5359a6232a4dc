// Prints the pixmaps the tray item may carry for an icon code, one line per
// size a host may be offered ("SIZE HEX", ARGB rows from the top), for the
// tray tests to compare with:
//   gleamo_test_pixmap ICONCODE
#include <cstdio>
#include <cstdlib>

#include "linux/icon_pixmap.h"
#include "tray/icon_raster.h"

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
  // The labels the controller gives every icon, at every size a host is offered.
  MakeIconPixmaps(PaintIconPicture(std::atoi(argv[1])), {16, 22, 24, 32, 48}, pixmaps);
  for (const IconPixmap& pixmap : pixmaps) {
    std::printf("%d ", pixmap.size);
    for (std::uint8_t byte : pixmap.argb) std::printf("%02x", byte);
    std::printf("\n");
  }
  return 0;
}
