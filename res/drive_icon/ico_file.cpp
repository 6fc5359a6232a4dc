#include "res/drive_icon/ico_file.h"

#include <stdexcept>

namespace {

constexpr int kInfoHeaderSize = 40;  // sizeof(BITMAPINFOHEADER)
constexpr int kIconDirSize = 6;
constexpr int kIconDirEntrySize = 16;

void PutWord(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutDword(std::vector<std::uint8_t>& out, std::uint32_t value) {
  PutWord(out, value & 0xFFFF);
  PutWord(out, value >> 16);
}

int RowBytes(int width, int bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

std::array<Rgb, 256> MakeEightBitPalette() {
  std::array<Rgb, 256> palette{};
  const auto& vga = FourBitPalette();
  int next = 0;
  for (const Rgb& colour : vga) palette[next++] = colour;
  const std::uint8_t levels[6] = {0, 51, 102, 153, 204, 255};
  for (std::uint8_t r : levels) {
    for (std::uint8_t g : levels) {
      for (std::uint8_t b : levels) palette[next++] = {r, g, b};
    }
  }
  for (int step = 0; step < 24; ++step) {
    const auto grey = static_cast<std::uint8_t>(8 + step * 10);
    palette[next++] = {grey, grey, grey};
  }
  return palette;
}

// Brightness counts twice as much as hue: a dark grey must become black or
// grey, not the navy that plain RGB distance finds just as close.
double ColourDistance(Rgb a, Rgb b) {
  const double lumaA = 0.299 * a.red + 0.587 * a.green + 0.114 * a.blue;
  const double lumaB = 0.299 * b.red + 0.587 * b.green + 0.114 * b.blue;
  const double luma = lumaA - lumaB;
  const double redness = (a.red - lumaA) - (b.red - lumaB);
  const double blueness = (a.blue - lumaA) - (b.blue - lumaB);
  return 2 * luma * luma + redness * redness + blueness * blueness;
}

}  // namespace

const std::array<Rgb, 16>& FourBitPalette() {
  static const std::array<Rgb, 16> palette = {{{0, 0, 0},
                                               {128, 0, 0},
                                               {0, 128, 0},
                                               {128, 128, 0},
                                               {0, 0, 128},
                                               {128, 0, 128},
                                               {0, 128, 128},
                                               {192, 192, 192},
                                               {128, 128, 128},
                                               {255, 0, 0},
                                               {0, 255, 0},
                                               {255, 255, 0},
                                               {0, 0, 255},
                                               {255, 0, 255},
                                               {0, 255, 255},
                                               {255, 255, 255}}};
  return palette;
}

const std::array<Rgb, 256>& EightBitPalette() {
  static const std::array<Rgb, 256> palette = MakeEightBitPalette();
  return palette;
}

int NearestPaletteIndex(Rgb colour, const Rgb* palette, int paletteSize) {
  int best = 0;
  double bestDistance = -1;
  for (int i = 0; i < paletteSize; ++i) {
    const double distance = ColourDistance(colour, palette[i]);
    if (bestDistance < 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

IconImage EncodeIconImage(const RgbaImage& picture, int bitsPerPixel) {
  if (bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 32) {
    throw std::invalid_argument("icon images are written with 4, 8 or 32 bits per pixel");
  }
  const int width = picture.width;
  const int height = picture.height;
  const int colourStride = RowBytes(width, bitsPerPixel);
  const int maskStride = RowBytes(width, 1);
  const Rgb* palette = bitsPerPixel == 4 ? FourBitPalette().data() : EightBitPalette().data();
  const int paletteSize = bitsPerPixel == 32 ? 0 : 1 << bitsPerPixel;

  IconImage image;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bitsPerPixel;
  std::vector<std::uint8_t>& out = image.bytes;

  PutDword(out, kInfoHeaderSize);
  PutDword(out, static_cast<std::uint32_t>(width));
  PutDword(out, static_cast<std::uint32_t>(height * 2));  // colour and mask stacked
  PutWord(out, 1);                                        // planes
  PutWord(out, static_cast<unsigned>(bitsPerPixel));
  PutDword(out, 0);  // BI_RGB
  PutDword(out, static_cast<std::uint32_t>((colourStride + maskStride) * height));
  PutDword(out, 0);  // pixels per metre, x
  PutDword(out, 0);  // pixels per metre, y
  PutDword(out, 0);  // colours used: all of the palette
  PutDword(out, 0);  // important colours: all
  for (int i = 0; i < paletteSize; ++i) {
    out.push_back(palette[i].blue);
    out.push_back(palette[i].green);
    out.push_back(palette[i].red);
    out.push_back(0);
  }

  const auto transparent = [&](const Rgba& pixel) { return bitsPerPixel == 32 ? pixel.alpha == 0 : pixel.alpha < 128; };

  for (int y = height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(colourStride), 0);
    for (int x = 0; x < width; ++x) {
      const Rgba& pixel = picture.At(x, y);
      if (transparent(pixel)) continue;  // black under a set mask bit
      if (bitsPerPixel == 32) {
        row[x * 4 + 0] = pixel.blue;
        row[x * 4 + 1] = pixel.green;
        row[x * 4 + 2] = pixel.red;
        row[x * 4 + 3] = pixel.alpha;
      } else {
        const int index = NearestPaletteIndex({pixel.red, pixel.green, pixel.blue}, palette, paletteSize);
        if (bitsPerPixel == 8) {
          row[x] = static_cast<std::uint8_t>(index);
        } else {
          row[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);  // left pixel in the high nibble
        }
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(maskStride), 0);
    for (int x = 0; x < width; ++x) {
      if (transparent(picture.At(x, y))) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return image;
}

std::vector<std::uint8_t> BuildIcoFile(const std::vector<IconImage>& images) {
  std::vector<std::uint8_t> out;
  PutWord(out, 0);  // reserved
  PutWord(out, 1);  // icon, not cursor
  PutWord(out, static_cast<unsigned>(images.size()));
  auto offset = static_cast<std::uint32_t>(kIconDirSize + kIconDirEntrySize * images.size());
  for (const IconImage& image : images) {
    out.push_back(static_cast<std::uint8_t>(image.width >= 256 ? 0 : image.width));  // 0 stands for 256
    out.push_back(static_cast<std::uint8_t>(image.height >= 256 ? 0 : image.height));
    out.push_back(static_cast<std::uint8_t>(image.bitsPerPixel < 8 ? 1 << image.bitsPerPixel : 0));
    out.push_back(0);  // reserved
    PutWord(out, 1);   // planes
    PutWord(out, static_cast<unsigned>(image.bitsPerPixel));
    PutDword(out, static_cast<std::uint32_t>(image.bytes.size()));
    PutDword(out, offset);
    offset += static_cast<std::uint32_t>(image.bytes.size());
  }
  for (const IconImage& image : images) out.insert(out.end(), image.bytes.begin(), image.bytes.end());
  return out;
}
