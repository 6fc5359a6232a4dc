#include "tray/icon_pixmap_linux.h"

#include <cstddef>

namespace {

void PutPixel(std::uint8_t* at, const IconRaster& raster, int x, int y) {
  if (!raster.OpaqueAt(x, y)) {
    at[0] = at[1] = at[2] = at[3] = 0;
    return;
  }
  const Rgb color = raster.ColorAt(x, y);
  at[0] = 0xFF;
  at[1] = color.red;
  at[2] = color.green;
  at[3] = color.blue;
}

}  // namespace

IconPlacement PlaceIcon(int canvasSize) {
  const int factor = canvasSize >= ICON_SIZE ? canvasSize / ICON_SIZE : 1;
  // An odd spare pixel goes to the right and the bottom; a canvas smaller
  // than the picture shows its middle.
  return {factor, (canvasSize - ICON_SIZE * factor) / 2};
}

bool ModelPixelAt(const IconPlacement& placement, int x, int y, int& modelX, int& modelY) {
  const int px = x - placement.offset;
  const int py = y - placement.offset;
  const int extent = ICON_SIZE * placement.factor;
  if (px < 0 || py < 0 || px >= extent || py >= extent) return false;
  modelX = px / placement.factor;
  modelY = py / placement.factor;
  return true;
}

void MakeIconPixmaps(const IconRaster& raster, IconPixmaps& pixmaps) {
  for (int y = 0; y < ICON_SIZE; ++y) {
    for (int x = 0; x < ICON_SIZE; ++x) {
      PutPixel(&pixmaps.small[static_cast<std::size_t>((y * ICON_SIZE + x) * 4)], raster, x, y);
    }
  }
  constexpr int FACTOR = LARGE_ICON_SIZE / ICON_SIZE;
  for (int y = 0; y < LARGE_ICON_SIZE; ++y) {
    for (int x = 0; x < LARGE_ICON_SIZE; ++x) {
      PutPixel(&pixmaps.large[static_cast<std::size_t>((y * LARGE_ICON_SIZE + x) * 4)], raster, x / FACTOR, y / FACTOR);
    }
  }
}
