// The activity icon as the pixmaps a StatusNotifierItem carries: ARGB32 in
// network byte order (alpha, red, green, blue per pixel, rows from the top).
#pragma once

#include <cstdint>
#include <vector>

#include "linux/tray_icon.h"
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

// Where the picture sits in a window of any shape (the XEmbed icon's): on
// the largest square canvas, centred (an odd spare pixel to the right and
// the bottom), by PlaceIcon's rule.
struct WindowPlacement {
  int factor;
  int left, top;  // of the picture's top left corner
};
WindowPlacement PlaceIconInWindow(int width, int height);

// The model pixel shown at (x, y) of the canvas; false where the canvas is
// transparent (outside the picture).
bool ModelPixelAt(const IconPlacement& placement, int x, int y, int& modelX, int& modelY);

// One square pixmap of the icon, size * size pixels.
struct IconPixmap {
  int size = 0;
  std::vector<std::uint8_t> argb;
};

// The pixmaps an item offers, one per size; which sizes suit a host is
// tray_host_linux's to say.
using IconPixmaps = std::vector<IconPixmap>;

// The picture at each of the sizes, each drawn natively by the pixel model
// (whole multiples of 16 are the 16 px picture enlarged pixel for pixel).
// Opaque pixels (black on the mask) keep their colour at full alpha; where
// the mask is white the pixmap is fully transparent.
void MakeIconPixmaps(const IconPicture& picture, const std::vector<int>& sizes, IconPixmaps& pixmaps);
