// The activity icon as the pixmaps a StatusNotifierItem carries: ARGB32 in
// network byte order (alpha, red, green, blue per pixel, rows from the top).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tray/icon_raster.h"

// How the 16x16 picture sits on a square canvas of any size: enlarged by the
// largest whole factor that fits (nearest neighbour, so the pixel art stays
// crisp) and centred; the rest of the canvas is transparent. 16, 32 and 48
// fill the canvas; 22 and 24 carry the picture unscaled in their middle.
struct IconPlacement {
  int factor;  // 1 or more
  int offset;  // of the picture's top left corner, the same on both axes
};
IconPlacement PlaceIcon(int canvasSize);

// The model pixel shown at (x, y) of the canvas; false where the canvas is
// transparent (outside the picture).
bool ModelPixelAt(const IconPlacement& placement, int x, int y, int& modelX, int& modelY);

// One square pixmap of the icon, size * size pixels.
struct IconPixmap {
  int size = 0;
  std::vector<std::uint8_t> argb;
};

// The sizes the item offers. Xfce's status tray takes the largest pixmap
// and shrinks it smoothly to its icon size, 22 px by default, which blurs
// pixel art: so the largest is 22, shown there unscaled. Hosts that pick
// the size nearest their own find 16 and 22 as they are.
constexpr std::array<int, 2> ICON_PIXMAP_SIZES{ICON_SIZE, 22};
using IconPixmaps = std::array<IconPixmap, ICON_PIXMAP_SIZES.size()>;

// Paints the raster at every size by PlaceIcon. Opaque pixels (black on the
// mask) keep their colour at full alpha; where the mask is white, and
// around the picture, the pixmap is fully transparent.
void MakeIconPixmaps(const IconRaster& raster, IconPixmaps& pixmaps);
