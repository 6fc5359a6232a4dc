#include "tray/activity_icon_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/win32_handles.h"
#include "tests/tray/icon_model_win32.h"
#include "tests/tray/raster_art.h"
#include "tray/icon_raster.h"

// Reaches the painter's own bitmaps, its font request and its font source.
struct CActivityIconTestAccess {
  static HBITMAP ColorBitmap(const CActivityIcon& icon) { return icon.colorBitmap.get(); }
  static HBITMAP MaskBitmap(const CActivityIcon& icon) { return icon.maskBitmap.get(); }
  static HFONT CreateLabelFont(int cellHeight = 8) { return CActivityIcon::CreateLabelFont(cellHeight); }
  static HFONT (*&FontSource())(int) { return CActivityIcon::labelFontSource; }
};

namespace {

using Access = CActivityIconTestAccess;

IconRaster Painted(const CActivityIcon& icon) {
  IconRaster raster;
  EXPECT_TRUE(ReadRaster(Access::ColorBitmap(icon), Access::MaskBitmap(icon), raster));
  return raster;
}

int GlyphPixelsInRows(const IconRaster& painted, IconCode code, int firstRow, int lastRow) {
  const IconRaster shapes = PaintIconShapes(code);
  int count = 0;
  for (int y = firstRow; y <= lastRow; ++y) {
    for (int x = 0; x < ICON_SIZE; ++x) count += painted.ColorAt(x, y) != shapes.ColorAt(x, y);
  }
  return count;
}

const IconCode SWEEP[] = {
    INT_MIN, -13,    0,      10,     11,     12,     13,     14,     15,     16,     17,     18,     19,
    100,     101,    109,    110,    111,    113,    115,    117,    118,    119,    9999,   10000,  100000,
    100715,  111515, 120116, 130712, 139999, 140099, 159901, 160000, 171507, 180808, 190303, 991515, INT_MAX,
};

TEST(CActivityIcon, PaintsWhatTheModelPaintsForEveryStyleAtEverySize) {
  const std::pair<const char*, const char*> labels[] = {{"", ""}, {"TAV", "OLI"}, {"WWWWW", "MMMM"}, {"", "R W"}};
  for (const int size : {16, 20, 24, 28, 32}) {
    for (const IconCode code : SWEEP) {
      for (const auto& [top, bottom] : labels) {
        const CActivityIcon icon(top, bottom, code, size);
        const IconRaster painted = Painted(icon);
        ASSERT_EQ(painted.size, size);
        EXPECT_TRUE(MatchesModel(painted, top, bottom, code));
      }
    }
  }
}

TEST(CActivityIcon, DrawsBothTextsWhereOnlyTheyCanFall) {
  for (const IconCode code : {110, 113, 117, 10000, 130712, 171507}) {
    SCOPED_TRACE(code);
    const CActivityIcon icon("TAV", "OLI", code);
    const IconRaster painted = Painted(icon);
    EXPECT_GT(GlyphPixelsInRows(painted, code, 0, 6), 5) << "no top label";
    EXPECT_GT(GlyphPixelsInRows(painted, code, 9, 15), 5) << "no bottom text";
  }
}

TEST(CActivityIcon, EmptyLabelsInTheCharStyleLeaveAPlainSquare) {
  for (const IconCode code : {110, 114, 118, 500}) {
    const CActivityIcon icon("", "", code);
    const CActivityIcon nullLabels(nullptr, nullptr, code);  // taken as empty rather than read
    EXPECT_EQ(ColorArt(Painted(nullLabels)), ColorArt(Painted(icon)));
    const IconRaster painted = Painted(icon);
    EXPECT_PRED_FORMAT2(SameArt, ColorArt(PaintIconShapes(code)), ColorArt(painted));
    EXPECT_PRED_FORMAT2(SameArt, MaskArt(PaintIconShapes(code)), MaskArt(painted));
  }
}

TEST(CActivityIcon, CutsLongLabelsBeforeDrawing) {
  const CActivityIcon cut("WXYZ", "ABC", 112);
  const CActivityIcon longer("WXYZW", "ABCDEF", 112);
  EXPECT_EQ(ColorArt(Painted(longer)), ColorArt(Painted(cut)));
  const CActivityIcon barCut("WXYZ", "", 120505);
  const CActivityIcon barLonger("WXYZWXYZ", "", 120505);
  EXPECT_EQ(ColorArt(Painted(barLonger)), ColorArt(Painted(barCut)));
  EXPECT_EQ(MaskArt(Painted(barLonger)), MaskArt(Painted(barCut)));
}

TEST(CActivityIcon, BarStyleDrawsRWWhateverBottomLabelIsPassed) {
  const CActivityIcon rw("TAV", "R W", 130303);
  for (const char* bottom : {"", "OLI", "XY"}) {
    const CActivityIcon icon("TAV", bottom, 130303);
    EXPECT_EQ(ColorArt(Painted(icon)), ColorArt(Painted(rw))) << bottom;
    EXPECT_EQ(MaskArt(Painted(icon)), MaskArt(Painted(rw))) << bottom;
  }
}

TEST(CActivityIcon, TheIconCarriesBothImages) {
  for (const IconCode code : {13, 113, 130712}) {
    SCOPED_TRACE(code);
    const CActivityIcon icon("TAV", "OLI", code);
    ASSERT_NE(icon.GetIcon(), nullptr);
    EXPECT_EQ(icon.GetIcon(), icon.GetIcon());
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon.GetIcon(), &info));
    const unique_hbitmap iconColor(info.hbmColor);
    const unique_hbitmap iconMask(info.hbmMask);
    EXPECT_TRUE(info.fIcon);
    ASSERT_NE(iconColor.get(), nullptr) << "a colour icon, not a monochrome one";
    for (HBITMAP bitmap : {iconColor.get(), iconMask.get()}) {
      BITMAP size{};
      ASSERT_EQ(GetObjectA(bitmap, sizeof size, &size), static_cast<int>(sizeof size));
      EXPECT_EQ(size.bmWidth, ICON_SIZE);
      EXPECT_EQ(size.bmHeight, ICON_SIZE);
    }
    IconRaster carried;
    ASSERT_TRUE(ReadRaster(iconColor.get(), iconMask.get(), carried));
    const IconRaster painted = Painted(icon);
    EXPECT_PRED_FORMAT2(SameArt, ColorArt(painted), ColorArt(carried));
    EXPECT_PRED_FORMAT2(SameArt, MaskArt(painted), MaskArt(carried));
  }
}

TEST(CActivityIcon, DestructionReleasesTheIconAndBothBitmaps) {
  for (const IconCode code : {10, 110, 100000}) {
    SCOPED_TRACE(code);
    auto icon = std::make_unique<CActivityIcon>("TAV", "OLI", code);
    const HICON handle = icon->GetIcon();
    const HBITMAP color = Access::ColorBitmap(*icon);
    const HBITMAP mask = Access::MaskBitmap(*icon);
    ASSERT_EQ(GetObjectType(color), static_cast<DWORD>(OBJ_BITMAP));
    ASSERT_EQ(GetObjectType(mask), static_cast<DWORD>(OBJ_BITMAP));
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(handle, &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    icon.reset();
    EXPECT_EQ(GetObjectType(color), 0u);
    EXPECT_EQ(GetObjectType(mask), 0u);
    EXPECT_FALSE(GetIconInfo(handle, &info));
  }
}

TEST(CreateLabelFont, RequestsTheSmallRasterFace) {
  const unique_hfont font(Access::CreateLabelFont());
  ASSERT_NE(font.get(), nullptr);
  LOGFONTA request{};
  ASSERT_EQ(GetObjectA(font.get(), sizeof request, &request), static_cast<int>(sizeof request));
  EXPECT_EQ(request.lfHeight, 8);
  EXPECT_EQ(request.lfWidth, 0);
  EXPECT_EQ(request.lfEscapement, -900);
  EXPECT_EQ(request.lfOrientation, 3);
  EXPECT_EQ(request.lfWeight, 400);
  EXPECT_EQ(request.lfItalic, 0);
  EXPECT_EQ(request.lfUnderline, 0);
  EXPECT_EQ(request.lfStrikeOut, 0);
  EXPECT_EQ(request.lfCharSet, 0);
  EXPECT_EQ(request.lfOutPrecision, 6);
  EXPECT_EQ(request.lfClipPrecision, 15);
  EXPECT_EQ(request.lfQuality, 2);
  EXPECT_EQ(request.lfPitchAndFamily, 0);
  EXPECT_STREQ(request.lfFaceName, "Small fonts");

  // The prefix must supply the face, or the labels come from a stand-in.
  const unique_screen_dc screen(GetDC(nullptr));
  const unique_hdc dc(CreateCompatibleDC(screen.get()));
  const ScopedSelection selection(dc.get(), font.get());
  ASSERT_TRUE(selection);
  char face[LF_FACESIZE] = {};
  GetTextFaceA(dc.get(), sizeof face, face);
  EXPECT_EQ(lstrcmpiA(face, "Small Fonts"), 0) << face;
  TEXTMETRICA metrics{};
  ASSERT_TRUE(GetTextMetricsA(dc.get(), &metrics));
  EXPECT_EQ(metrics.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE), 0) << "not a raster face";
}

// Hands out real label fonts except the one whose turn is failAt (1-based),
// for which it gives none, so that its selection fails.
class FontSelectionFailure : public testing::Test {
 protected:
  static inline int calls = 0;
  static inline int failAt = 0;
  static inline std::vector<HFONT> handedOut;

  static HFONT Source(int cellHeight) {
    ++calls;
    if (calls == failAt) return nullptr;
    handedOut.push_back(Access::CreateLabelFont(cellHeight));
    return handedOut.back();
  }

  void SetUp() override {
    saved = Access::FontSource();
    Access::FontSource() = &Source;
    calls = 0;
    failAt = 0;
    handedOut.clear();
  }
  void TearDown() override { Access::FontSource() = saved; }

  HFONT (*saved)(int) = nullptr;
};

TEST_F(FontSelectionFailure, EachStyleAsksForOneFontPerLabelledRasterAndDeletesIt) {
  const std::pair<IconCode, int> cases[] = {{13, 0}, {113, 1}, {130712, 2}};
  for (const auto& [code, fonts] : cases) {
    SCOPED_TRACE(code);
    calls = 0;
    handedOut.clear();
    const CActivityIcon icon("TAV", "OLI", code);
    EXPECT_EQ(calls, fonts);
    for (HFONT font : handedOut) EXPECT_EQ(GetObjectType(font), 0u) << "font left alive";
  }
}

TEST_F(FontSelectionFailure, CharStyleWithoutItsFontHasNoLabels) {
  failAt = 1;
  const CActivityIcon icon("TAV", "OLI", 113);
  const IconRaster painted = Painted(icon);
  EXPECT_PRED_FORMAT2(SameArt, ColorArt(PaintIconShapes(113)), ColorArt(painted));
  EXPECT_PRED_FORMAT2(SameArt, MaskArt(PaintIconShapes(113)), MaskArt(painted));
  EXPECT_EQ(calls, 1);
}

TEST_F(FontSelectionFailure, BarColourRasterWithoutItsFontLosesLabelsAndTheBaseLineOnBothRasters) {
  failAt = 1;
  const CActivityIcon icon("TAV", "OLI", 130712);
  const IconRaster painted = Painted(icon);
  IconRaster expected = PaintIconShapes(130712);
  for (int x = 0; x < ICON_SIZE; ++x) {
    expected.color[15 * 16 + x] = RGB_BLACK;
    expected.opaque[15 * 16 + x] = false;
  }
  EXPECT_PRED_FORMAT2(SameArt, ColorArt(expected), ColorArt(painted));
  // The mask still gets its labels: opaque black glyphs where no bar stands.
  const IconPixelSet area = LabelGlyphArea("TAV", "OLI", 130712);
  int maskGlyphs = 0;
  for (std::size_t i = 0; i < ICON_PIXELS; ++i) {
    if (painted.opaque[i] != expected.opaque[i]) {
      EXPECT_TRUE(area[i] && painted.opaque[i]) << "pixel " << i;
      ++maskGlyphs;
    }
  }
  EXPECT_GT(maskGlyphs, 5);
  EXPECT_FALSE(painted.OpaqueAt(7, 15));
  EXPECT_EQ(calls, 2);
}

TEST_F(FontSelectionFailure, BarMaskWithoutItsFontHasBarsAndBaseLineOnly) {
  failAt = 2;
  const CActivityIcon icon("TAV", "OLI", 130712);
  const IconRaster painted = Painted(icon);
  EXPECT_PRED_FORMAT2(SameArt, MaskArt(PaintIconShapes(130712)), MaskArt(painted));
  EXPECT_GT(GlyphPixelsInRows(painted, 130712, 0, 6), 5) << "the colour raster keeps its labels";
  EXPECT_EQ(calls, 2);
}

// Each painting deletes every object it made but the bitmaps and the icon,
// and the destructor those: many paintings leave the table as they found it.
TEST(CActivityIcon, PaintingsLeaveNoGdiObjectBehind) {
  const IconCode codes[] = {13, 113, 130712};
  for (const IconCode code : codes) const CActivityIcon warmUp("TAV", "OLI", code);  // caches of the platform
  const int before = GdiHeadroom();
  for (const IconCode code : codes) {
    for (int i = 0; i < 300; ++i) const CActivityIcon icon("TAV", "OLI", code);
    EXPECT_EQ(GdiHeadroom(), before) << "objects left behind by 300 paintings of code " << code;
  }
}

// Paintings in a row, as a long session makes them: not one object may be
// lost on the way (an icon holds its bitmaps as GDI objects, so a lost icon
// shows too), and the last painting must still be right. Counting the
// headroom catches even a leak of one object in a thousand paintings, where
// painting until the handle table is full takes five times as long.
TEST(CActivityIconSoak, TwentyThousandPaintingsInARowLoseNoObjectAndStayCorrect) {
  constexpr int PAINTINGS = 20000;
  const IconCode codes[] = {13, 110, 130712, 10, 118, 100000, 171515};
  { const CActivityIcon warmUp("TAV", "OLI", codes[0]); }  // caches of the platform
  const int before = GdiHeadroom();
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<CActivityIcon> shown;
  IconCode lastCode = 0;
  for (int i = 0; i < PAINTINGS; ++i) {
    lastCode = codes[i % (sizeof codes / sizeof codes[0])];
    auto next = std::make_unique<CActivityIcon>("TAV", "OLI", lastCode);
    if (next->GetIcon() == nullptr) FAIL() << "painting " << i << " made no icon";
    shown = std::move(next);  // the new icon replaces the old one, as in the tray
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d paintings in %.1f s\n", PAINTINGS, seconds);
  EXPECT_TRUE(MatchesModel(Painted(*shown), "TAV", "OLI", lastCode));
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(shown->GetIcon(), &info));
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  shown.reset();
  EXPECT_EQ(GdiHeadroom(), before) << "objects lost in " << PAINTINGS << " paintings";
}

}  // namespace
