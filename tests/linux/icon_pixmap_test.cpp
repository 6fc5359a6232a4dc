#include "linux/icon_pixmap.h"
#include "linux/sni/host.h"

#include <gtest/gtest.h>

namespace {

struct Argb {
  std::uint8_t alpha, red, green, blue;
};

Argb PixelAt(const IconPixmap& pixmap, int x, int y) {
  const std::uint8_t* at = &pixmap.argb[static_cast<std::size_t>((y * pixmap.size + x) * 4)];
  return {at[0], at[1], at[2], at[3]};
}

const IconPixmap& SixteenPixels(const IconPixmaps& pixmaps) {
  return pixmaps[0];
}

TEST(IconPixmap, WritesAlphaRedGreenBlueInThatByteOrder) {
  IconRaster raster;
  raster.color[0] = Rgb{0x12, 0x34, 0x56};
  raster.opaque[0] = true;
  raster.color[ICON_SIZE * 3 + 5] = Rgb{0xFF, 0x80, 0x01};  // (5, 3)
  raster.opaque[ICON_SIZE * 3 + 5] = true;
  IconPixmaps pixmaps;
  MakeIconPixmaps(IconPicture{0, raster}, {ICON_SIZE}, pixmaps);
  const std::vector<std::uint8_t>& small = SixteenPixels(pixmaps).argb;
  EXPECT_EQ(small[0], 0xFF);
  EXPECT_EQ(small[1], 0x12);
  EXPECT_EQ(small[2], 0x34);
  EXPECT_EQ(small[3], 0x56);
  const Argb placed = PixelAt(SixteenPixels(pixmaps), 5, 3);
  EXPECT_EQ(placed.red, 0xFF);
  EXPECT_EQ(placed.green, 0x80);
  EXPECT_EQ(placed.blue, 0x01);
}

TEST(IconPixmap, WhiteMaskIsFullyTransparentWhateverTheColour) {
  IconRaster raster;
  raster.color[1] = RGB_WHITE;  // colour without the mask: still see-through
  IconPixmaps pixmaps;
  MakeIconPixmaps(IconPicture{0, raster}, {ICON_SIZE}, pixmaps);
  const Argb clear = PixelAt(SixteenPixels(pixmaps), 1, 0);
  EXPECT_EQ(clear.alpha, 0);
  EXPECT_EQ(clear.red, 0);
  EXPECT_EQ(clear.green, 0);
  EXPECT_EQ(clear.blue, 0);
}

// In a window of any size (the XEmbed icon's), whole multiples of 16 enlarge
// the picture pixel by pixel; 22 and 24 carry it unscaled in their middle,
// with a transparent border.
struct Placement {
  int size, factor, offset;
};
constexpr Placement PLACEMENTS[] = {{16, 1, 0}, {22, 1, 3}, {24, 1, 4}, {32, 2, 0}, {48, 3, 0}};

const Placement* ExpectedPlacement(int size) {
  for (const Placement& placement : PLACEMENTS) {
    if (placement.size == size) return &placement;
  }
  return nullptr;
}

// The model pixel the placement shows at (x, y), or false outside the picture.
bool ExpectedModelPixel(const Placement& expected, int x, int y, int& modelX, int& modelY) {
  const int dx = x - expected.offset;
  const int dy = y - expected.offset;
  const int extent = ICON_SIZE * expected.factor;
  if (dx < 0 || dy < 0 || dx >= extent || dy >= extent) return false;
  modelX = dx / expected.factor;
  modelY = dy / expected.factor;
  return true;
}

TEST(IconPixmap, PlacementEnlargesWholeMultiplesAndCentresTheRest) {
  for (const Placement& expected : PLACEMENTS) {
    const IconPlacement placement = PlaceIcon(expected.size);
    EXPECT_EQ(placement.factor, expected.factor) << expected.size;
    EXPECT_EQ(placement.offset, expected.offset) << expected.size;
    for (int y = 0; y < expected.size; ++y) {
      for (int x = 0; x < expected.size; ++x) {
        int wantX = -1, wantY = -1, gotX = -1, gotY = -1;
        const bool inside = ExpectedModelPixel(expected, x, y, wantX, wantY);
        ASSERT_EQ(ModelPixelAt(placement, x, y, gotX, gotY), inside) << expected.size << ": " << x << ',' << y;
        if (inside) {
          ASSERT_EQ(gotX, wantX) << expected.size << ": " << x << ',' << y;
          ASSERT_EQ(gotY, wantY) << expected.size << ": " << x << ',' << y;
        }
      }
    }
  }
}

// A pixmap is the design drawn at its size: whole multiples of 16 are the
// 16 px picture enlarged pixel by pixel, 22 and 24 px the model's own
// picture of that size, filling the pixmap.
TEST(IconPixmap, EverySizeAHostIsOfferedCarriesThePictureDrawnAtThatSize) {
  // A bar icon: bars, base line, labels and see-through parts.
  const IconPicture picture = PaintIconPicture(130709);
  const IconRaster& raster = picture.raster;
  std::vector<int> sizes;
  for (TrayHost host : {TrayHost::Unknown, TrayHost::Xfce, TrayHost::Plasma, TrayHost::Lxqt, TrayHost::Mate,
                        TrayHost::Xapp, TrayHost::Cinnamon, TrayHost::Gnome, TrayHost::Waybar, TrayHost::Swaybar}) {
    const std::vector<int>& offered = TraitsOf(host).pixmapSizes;
    ASSERT_FALSE(offered.empty()) << TrayHostName(host);
    sizes.insert(sizes.end(), offered.begin(), offered.end());
  }
  IconPixmaps pixmaps;
  MakeIconPixmaps(picture, sizes, pixmaps);
  ASSERT_EQ(pixmaps.size(), sizes.size());
  for (const IconPixmap& pixmap : pixmaps) {
    if (pixmap.size % ICON_SIZE != 0) {
      const IconRaster native = PaintIconRaster("TAV", "OLI", 130709, pixmap.size);
      for (int y = 0; y < pixmap.size; ++y) {
        for (int x = 0; x < pixmap.size; ++x) {
          const Argb pixel = PixelAt(pixmap, x, y);
          ASSERT_EQ(pixel.alpha, native.OpaqueAt(x, y) ? 0xFF : 0x00) << pixmap.size << ": " << x << ',' << y;
          if (native.OpaqueAt(x, y)) {
            ASSERT_EQ((Rgb{pixel.red, pixel.green, pixel.blue}), native.ColorAt(x, y)) << pixmap.size;
          }
        }
      }
      continue;
    }
    const Placement* expected = ExpectedPlacement(pixmap.size);
    ASSERT_NE(expected, nullptr) << pixmap.size;
    ASSERT_EQ(pixmap.argb.size(), static_cast<std::size_t>(pixmap.size * pixmap.size * 4));
    int opaque = 0;
    for (int y = 0; y < pixmap.size; ++y) {
      for (int x = 0; x < pixmap.size; ++x) {
        const Argb pixel = PixelAt(pixmap, x, y);
        int modelX = 0, modelY = 0;
        if (!ExpectedModelPixel(*expected, x, y, modelX, modelY)) {
          EXPECT_EQ(pixel.alpha, 0) << pixmap.size << ": " << x << ',' << y;
          continue;
        }
        const bool shown = raster.OpaqueAt(modelX, modelY);
        EXPECT_EQ(pixel.alpha, shown ? 0xFF : 0x00) << pixmap.size << ": " << x << ',' << y;
        if (!shown) continue;
        ++opaque;
        EXPECT_EQ((Rgb{pixel.red, pixel.green, pixel.blue}), raster.ColorAt(modelX, modelY))
            << pixmap.size << ": " << x << ',' << y;
      }
    }
    EXPECT_GT(opaque, 0);
    EXPECT_LT(opaque, ICON_PIXELS * expected->factor * expected->factor);
  }
}

// The watcher's owner tells the host; the session's desktop only where the
// process says nothing (another user's, or a sandbox).
TEST(TrayHost, ToldByTheWatchersProgramBeforeTheDesktop) {
  struct Case {
    const char* process;
    const char* program;
    const char* desktop;
    TrayHost host;
  };
  const Case cases[] = {
      {"panel-1-systray", "wrapper-2.0", "XFCE", TrayHost::Xfce},
      {"panel-12-systray", "", "", TrayHost::Xfce},
      {"xapp-sn-watcher", "xapp-sn-watcher", "MATE", TrayHost::Xapp},  // MATE with the XApp applet
      {"kded5", "kded5", "KDE", TrayHost::Plasma},
      {"gnome-shell", "gnome-shell", "ubuntu:GNOME", TrayHost::Gnome},
      {"waybar", "waybar", "sway", TrayHost::Waybar},
      {"", "", "ubuntu:GNOME", TrayHost::Gnome},
      {"xapp-sn-watcher", "xapp-sn-watcher", "X-Cinnamon", TrayHost::Cinnamon},
      {"notification-ar", "notification-area-applet", "MATE", TrayHost::Mate},
      {"", "", "X-Cinnamon", TrayHost::Cinnamon},
      {"python3", "python3.11", "", TrayHost::Unknown},
      {"panel-1-systrayX", "", "", TrayHost::Unknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IdentifyTrayHost(c.process, c.program, c.desktop), c.host) << c.process << " / " << c.desktop;
  }
}

}  // namespace
