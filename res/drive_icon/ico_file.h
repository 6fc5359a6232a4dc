// Writes pictures as Windows icon images (classic device-independent bitmaps
// with an AND mask, never PNG) and gathers them into an .ico file.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "res/drive_icon/raster.h"

struct Rgb {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};

inline bool operator==(const Rgb& a, const Rgb& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// The sixteen colours of the standard VGA palette; entry 0 is black.
const std::array<Rgb, 16>& FourBitPalette();
// VGA's sixteen, a 6x6x6 colour cube and a 24-step grey ramp; entry 0 is black.
const std::array<Rgb, 256>& EightBitPalette();

// The entry closest to the colour, brightness weighing twice as much as hue;
// the first entry wins a tie.
int NearestPaletteIndex(Rgb colour, const Rgb* palette, int paletteSize);

// One image of an icon: BITMAPINFOHEADER (height doubled for the mask),
// palette for 4 and 8 bits, colour rows and AND-mask rows, both bottom-up and
// padded to 32 bits. A pixel is transparent where the mask bit is set; there
// the colour part is black, so the screen shows through unchanged.
// At 4 and 8 bits pixels with alpha below 128 are transparent; at 32 bits the
// alpha is kept and only fully transparent pixels are masked.
struct IconImage {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  std::vector<std::uint8_t> bytes;
};

IconImage EncodeIconImage(const RgbaImage& picture, int bitsPerPixel);

// An .ico file: ICONDIR, one ICONDIRENTRY per image, then the images in order.
std::vector<std::uint8_t> BuildIcoFile(const std::vector<IconImage>& images);
