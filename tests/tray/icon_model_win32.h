// Reading painted icons back from the platform and comparing them with the
// pixel model, for the painter's tests and the tray soak.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/win32_handles.h"
#include "tests/tray/raster_art.h"
#include "tray/icon_raster.h"

// The side of a square bitmap; 0 when it is not one or cannot be read.
inline int BitmapSide(HBITMAP bitmap) {
  BITMAP size{};
  if (GetObjectA(bitmap, sizeof size, &size) != static_cast<int>(sizeof size)) return 0;
  return size.bmWidth == size.bmHeight ? size.bmWidth : 0;
}

// The pixels of a square bitmap of this side as 0x00RRGGBB, row 0 at the
// top; empty when the bitmap cannot be read.
inline std::vector<std::uint32_t> ReadPixels(HBITMAP bitmap, int side) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = side;
  info.bmiHeader.biHeight = -side;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side);
  const unique_screen_dc screen(GetDC(nullptr));
  if (GetDIBits(screen.get(), bitmap, 0, side, pixels.data(), &info, DIB_RGB_COLORS) != side) return {};
  for (std::uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
  return pixels;
}

// What the platform painted, as a raster of the bitmaps' size; fails unless
// both bitmaps are square, of one size, can be read, and the mask holds
// nothing but pure black and pure white.
inline testing::AssertionResult ReadRaster(HBITMAP color, HBITMAP mask, IconRaster& raster) {
  const int side = BitmapSide(color);
  if (side == 0 || BitmapSide(mask) != side) return testing::AssertionFailure() << "bitmaps not square of one size";
  const std::vector<std::uint32_t> colorPixels = ReadPixels(color, side);
  const std::vector<std::uint32_t> maskPixels = ReadPixels(mask, side);
  if (colorPixels.empty() || maskPixels.empty()) return testing::AssertionFailure() << "GetDIBits failed";
  raster = IconRaster(side);
  for (std::size_t i = 0; i < raster.color.size(); ++i) {
    const std::uint32_t c = colorPixels[i];
    raster.color[i] =
        Rgb{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
    if (maskPixels[i] != 0 && maskPixels[i] != 0xFFFFFF) {
      return testing::AssertionFailure() << "mask pixel " << i << " is neither black nor white: " << std::hex
                                         << maskPixels[i];
    }
    raster.opaque[i] = maskPixels[i] == 0;
  }
  return testing::AssertionSuccess();
}

// The two images an icon carries (copies made by GetIconInfo), as a raster.
inline testing::AssertionResult ReadIconRaster(HICON icon, IconRaster& raster) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return testing::AssertionFailure() << "GetIconInfo failed: not a live icon";
  const unique_hbitmap color(info.hbmColor);
  const unique_hbitmap mask(info.hbmMask);
  if (!color) return testing::AssertionFailure() << "a monochrome icon, not a colour one";
  return ReadRaster(color.get(), mask.get(), raster);
}

// Compares a painting with the model. Outside the rectangles that the texts
// may cover the two agree exactly. Inside them the platform's face decides
// which pixels are glyphs: each pixel shows either what lies under the labels
// or a glyph in the label colour (opaque on the mask in the bar style).
// The model is taken at the painting's size.
inline testing::AssertionResult MatchesModel(const IconRaster& painted, const char* top, const char* bottom,
                                             IconCode code) {
  const IconRaster shapes = PaintIconShapes(code, painted.size);
  if (shapes.size != painted.size) return testing::AssertionFailure() << "no model of size " << painted.size;
  const IconPixelSet area = LabelGlyphArea(top, bottom, code, painted.size);
  const Rgb labelColor = LabelColor(code);
  const bool glyphsOnMask = IconStyleOf(code) == IconStyle::Bar;
  const auto side = static_cast<std::size_t>(painted.size);
  std::string wrong;
  for (std::size_t i = 0; i < painted.color.size(); ++i) {
    const bool asShapes = painted.color[i] == shapes.color[i] && painted.opaque[i] == shapes.opaque[i];
    const bool asGlyph = painted.color[i] == labelColor && painted.opaque[i] == (glyphsOnMask || shapes.opaque[i]);
    if (!(asShapes || (area[i] && asGlyph))) wrong += " " + std::to_string(i % side) + "," + std::to_string(i / side);
  }
  if (wrong.empty()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "code " << code << " labels \"" << top << "\" \"" << bottom
                                     << "\": pixels (x,y) off the model:" << wrong << "\npainted:\n"
                                     << ColorArt(painted) << "mask:\n"
                                     << MaskArt(painted) << "model:\n"
                                     << ColorArt(PaintIconRaster(top, bottom, code, painted.size));
}

// How many more GDI objects the process could create now: fills the handle
// table with pens until the platform refuses, then frees them again.
inline int GdiHeadroom() {
  std::vector<HPEN> pens;
  pens.reserve(70000);
  for (HPEN pen; pens.size() < 1000000 && (pen = CreatePen(PS_SOLID, 1, 0)) != nullptr;) pens.push_back(pen);
  for (HPEN pen : pens) DeleteObject(pen);
  return static_cast<int>(pens.size());
}
