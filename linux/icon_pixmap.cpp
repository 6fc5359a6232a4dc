#include "linux/icon_pixmap.h"

#include <algorithm>
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

WindowPlacement PlaceIconInWindow(int width, int height) {
  const int canvas = std::min(width, height);
  const IconPlacement placement = PlaceIcon(canvas);
  return {placement.factor, (width - canvas) / 2 + placement.offset, (height - canvas) / 2 + placement.offset};
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

void MakeIconPixmaps(const IconPicture& picture, const std::vector<int>& sizes, IconPixmaps& pixmaps) {
  pixmaps.resize(sizes.size());
  for (std::size_t i = 0; i < pixmaps.size(); ++i) {
    IconPixmap& pixmap = pixmaps[i];
    pixmap.size = sizes[i];
    // Allocates only at a new size.
    const auto side = static_cast<std::size_t>(pixmap.size);
    pixmap.argb.resize(side * side * 4);
    std::uint8_t* at = pixmap.argb.data();
    if (pixmap.size > ICON_SIZE && pixmap.size % ICON_SIZE != 0) {
      // 20, 22, 24 px: the design drawn at that size.
      const IconRaster native = PaintTrayIcon(picture.code, pixmap.size);
      for (int y = 0; y < pixmap.size; ++y) {
        for (int x = 0; x < pixmap.size; ++x, at += 4) PutPixel(at, native, x, y);
      }
      continue;
    }
    const IconPlacement placement = PlaceIcon(pixmap.size);
    for (int y = 0; y < pixmap.size; ++y) {
      for (int x = 0; x < pixmap.size; ++x, at += 4) {
        int modelX = 0;
        int modelY = 0;
        if (ModelPixelAt(placement, x, y, modelX, modelY)) {
          PutPixel(at, picture.raster, modelX, modelY);
        } else {
          at[0] = at[1] = at[2] = at[3] = 0;
        }
      }
    }
  }
}
