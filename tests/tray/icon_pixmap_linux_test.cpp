#include "tray/icon_pixmap_linux.h"

#include <gtest/gtest.h>

namespace {

struct Argb {
  std::uint8_t alpha, red, green, blue;
};

Argb SmallAt(const IconPixmaps& pixmaps, int x, int y) {
  const std::uint8_t* at = &pixmaps.small[static_cast<std::size_t>((y * ICON_SIZE + x) * 4)];
  return {at[0], at[1], at[2], at[3]};
}

Argb LargeAt(const IconPixmaps& pixmaps, int x, int y) {
  const std::uint8_t* at = &pixmaps.large[static_cast<std::size_t>((y * LARGE_ICON_SIZE + x) * 4)];
  return {at[0], at[1], at[2], at[3]};
}

TEST(IconPixmap, WritesAlphaRedGreenBlueInThatByteOrder) {
  IconRaster raster;
  raster.color[0] = Rgb{0x12, 0x34, 0x56};
  raster.opaque[0] = true;
  raster.color[ICON_SIZE * 3 + 5] = Rgb{0xFF, 0x80, 0x01};  // (5, 3)
  raster.opaque[ICON_SIZE * 3 + 5] = true;
  IconPixmaps pixmaps;
  MakeIconPixmaps(raster, pixmaps);
  EXPECT_EQ(pixmaps.small[0], 0xFF);
  EXPECT_EQ(pixmaps.small[1], 0x12);
  EXPECT_EQ(pixmaps.small[2], 0x34);
  EXPECT_EQ(pixmaps.small[3], 0x56);
  const Argb placed = SmallAt(pixmaps, 5, 3);
  EXPECT_EQ(placed.red, 0xFF);
  EXPECT_EQ(placed.green, 0x80);
  EXPECT_EQ(placed.blue, 0x01);
}

TEST(IconPixmap, WhiteMaskIsFullyTransparentWhateverTheColour) {
  IconRaster raster;
  raster.color[1] = RGB_WHITE;  // colour without the mask: still see-through
  IconPixmaps pixmaps;
  MakeIconPixmaps(raster, pixmaps);
  const Argb clear = SmallAt(pixmaps, 1, 0);
  EXPECT_EQ(clear.alpha, 0);
  EXPECT_EQ(clear.red, 0);
  EXPECT_EQ(clear.green, 0);
  EXPECT_EQ(clear.blue, 0);
}

TEST(IconPixmap, LargeCopyDoublesEveryPixelOfAPaintedIcon) {
  // A bar icon: bars, base line, labels and see-through parts.
  const IconRaster raster = PaintIconRaster("TAV", "OLI", 130709);
  IconPixmaps pixmaps;
  MakeIconPixmaps(raster, pixmaps);
  int opaque = 0;
  for (int y = 0; y < ICON_SIZE; ++y) {
    for (int x = 0; x < ICON_SIZE; ++x) {
      const Argb small = SmallAt(pixmaps, x, y);
      EXPECT_EQ(small.alpha, raster.OpaqueAt(x, y) ? 0xFF : 0x00) << x << ',' << y;
      if (raster.OpaqueAt(x, y)) {
        ++opaque;
        EXPECT_EQ(small.green, raster.ColorAt(x, y).green) << x << ',' << y;
      }
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const Argb large = LargeAt(pixmaps, x * 2 + dx, y * 2 + dy);
          EXPECT_EQ(large.alpha, small.alpha);
          EXPECT_EQ(large.red, small.red);
          EXPECT_EQ(large.green, small.green);
          EXPECT_EQ(large.blue, small.blue);
        }
      }
    }
  }
  EXPECT_GT(opaque, 0);
  EXPECT_LT(opaque, ICON_PIXELS);
}

}  // namespace
