// The activity icon as the pixmaps a StatusNotifierItem carries: ARGB32 in
// network byte order (alpha, red, green, blue per pixel, rows from the top).
#pragma once

#include <array>
#include <cstdint>

#include "tray/icon_raster.h"

constexpr int LARGE_ICON_SIZE = 32;

struct IconPixmaps {
  std::array<std::uint8_t, ICON_SIZE * ICON_SIZE * 4> small{};
  // The same picture doubled pixel by pixel, for hosts that draw larger
  // icons and would otherwise blur it.
  std::array<std::uint8_t, LARGE_ICON_SIZE * LARGE_ICON_SIZE * 4> large{};
};

// Opaque pixels (black on the mask) keep their colour at full alpha; where
// the mask is white the pixmap is fully transparent.
void MakeIconPixmaps(const IconRaster& raster, IconPixmaps& pixmaps);
