// The activity icon as the pixmaps a StatusNotifierItem carries: ARGB32 in
// network byte order (alpha, red, green, blue per pixel, rows from the top).
#pragma once

#include <array>
#include <cstdint>

#include "tray/icon_raster.h"

constexpr int LARGE_ICON_SIZE = 32;

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

struct IconPixmaps {
  std::array<std::uint8_t, ICON_SIZE * ICON_SIZE * 4> small{};
  // The same picture doubled pixel by pixel, for hosts that draw larger
  // icons and would otherwise blur it.
  std::array<std::uint8_t, LARGE_ICON_SIZE * LARGE_ICON_SIZE * 4> large{};
};

// Opaque pixels (black on the mask) keep their colour at full alpha; where
// the mask is white the pixmap is fully transparent.
void MakeIconPixmaps(const IconRaster& raster, IconPixmaps& pixmaps);
