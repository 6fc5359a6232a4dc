#include "tray/icon_raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "tests/tray/raster_art.h"

namespace {

const char* const DISK_SYMBOL = R"(
    ................
    ......####......
    ....##....##....
    ...#........#...
    ...###....###...
    ...#..####..#...
    ...#........#...
    ...#........#...
    ...#......#####.
    ...#........#...
    ...#........#...
    ...#........#...
    ...#........#...
    ....##....##....
    ......####......
    ................
)";

const char* const ALL_OPAQUE = R"(
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
    ################
)";

// The art with '#' replaced by the given legend character.
std::string Painted(const char* art, char color) {
  std::string picture = Art(art);
  for (char& c : picture) {
    if (c == '#') c = color;
  }
  return picture;
}

std::string Uniform(char color) {
  return Painted(ALL_OPAQUE, color);
}

int Count(const IconPixelSet& pixels) {
  int count = 0;
  for (const bool member : pixels) count += member;
  return count;
}

TEST(IconStyleOf, RangesSelectTheStyle) {
  for (const IconCode code : {INT_MIN, -1, 0, 10, 18, 19, 100}) EXPECT_EQ(IconStyleOf(code), IconStyle::Symbol) << code;
  for (const IconCode code : {101, 110, 118, 9999}) EXPECT_EQ(IconStyleOf(code), IconStyle::Char) << code;
  for (const IconCode code : {10000, 130712, 189999, INT_MAX}) EXPECT_EQ(IconStyleOf(code), IconStyle::Bar) << code;
}

TEST(KeyColor, NamedKeysAreTheSameInEveryStyleAndUnknownKeysWhite) {
  for (const IconStyle style : {IconStyle::Symbol, IconStyle::Char, IconStyle::Bar}) {
    EXPECT_EQ(KeyColor(11, style), (Rgb{255, 0, 0}));
    EXPECT_EQ(KeyColor(12, style), (Rgb{0, 255, 0}));
    EXPECT_EQ(KeyColor(13, style), (Rgb{0, 0, 255}));
    EXPECT_EQ(KeyColor(14, style), (Rgb{255, 255, 0}));
    EXPECT_EQ(KeyColor(15, style), (Rgb{205, 0, 255}));
    EXPECT_EQ(KeyColor(16, style), (Rgb{0, 255, 255}));
    EXPECT_EQ(KeyColor(17, style), RGB_BLACK);
    for (const int key : {18, 19, 9, 0, 1, -10, 110, INT_MAX}) EXPECT_EQ(KeyColor(key, style), RGB_WHITE) << key;
  }
  EXPECT_EQ(KeyColor(10, IconStyle::Symbol), (Rgb{76, 76, 76}));
  EXPECT_EQ(KeyColor(10, IconStyle::Char), (Rgb{245, 245, 245}));
  EXPECT_EQ(KeyColor(10, IconStyle::Bar), (Rgb{245, 245, 245}));
}

TEST(SymbolStyle, PaintsTheDiskOutlineOnAnOpaqueBlackSquare) {
  const IconRaster raster = PaintIconRaster("TAV", "OLI", 13);  // labels are not drawn
  EXPECT_PRED_FORMAT2(SameArt, Painted(DISK_SYMBOL, 'B'), ColorArt(raster));
  EXPECT_PRED_FORMAT2(SameArt, Art(ALL_OPAQUE), MaskArt(raster));
  int symbolPixels = 0;
  for (const Rgb color : raster.color) symbolPixels += color != RGB_BLACK;
  EXPECT_EQ(symbolPixels, 48);
}

TEST(SymbolStyle, ColourFollowsTheCodeAndUnknownCodesPaintWhite) {
  const std::pair<IconCode, char> cases[] = {
      {10, 'g'}, {11, 'R'}, {12, 'G'},  {14, 'Y'}, {15, 'V'}, {16, 'T'},  {17, '.'},
      {18, 'W'}, {19, 'W'}, {100, 'W'}, {0, 'W'},  {-1, 'W'}, {-13, 'W'}, {INT_MIN, 'W'},
  };
  for (const auto& [code, color] : cases) {
    SCOPED_TRACE(code);
    const IconRaster raster = PaintIconRaster("", "", code);
    EXPECT_PRED_FORMAT2(SameArt, Painted(DISK_SYMBOL, color), ColorArt(raster));
    EXPECT_PRED_FORMAT2(SameArt, Art(ALL_OPAQUE), MaskArt(raster));
  }
}

TEST(CharStyle, EmptyLabelsLeaveAPlainOpaqueSquareOfTheBackground) {
  const std::pair<IconCode, char> cases[] = {
      {110, 'n'}, {111, 'R'}, {112, 'G'}, {113, 'B'}, {114, 'Y'}, {115, 'V'},  {116, 'T'},
      {117, '.'}, {118, 'W'}, {101, 'W'}, {109, 'W'}, {119, 'W'}, {9999, 'W'}, {500, 'W'},
  };
  for (const auto& [code, color] : cases) {
    SCOPED_TRACE(code);
    const IconRaster raster = PaintIconRaster("", "", code);
    EXPECT_PRED_FORMAT2(SameArt, Uniform(color), ColorArt(raster));
    EXPECT_PRED_FORMAT2(SameArt, Art(ALL_OPAQUE), MaskArt(raster));
  }
}

TEST(CharStyle, DrawsBothLabelsInDarkYellowCentredInTheirRectangles) {
  const IconRaster raster = PaintIconRaster("TAV", "OLI", 113);
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    BBBBBBBBBBBBBBBB
    BByyyBByBByByBBB
    BBByBByByByByBBB
    BBByBByyyByByBBB
    BBByBByByByByBBB
    BBByBByByBByBBBB
    BBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBB
    BBByBByBBByyyBBB
    BByByByBBBByBBBB
    BByByByBBBByBBBB
    BByByByBBBByBBBB
    BBByBByyyByyyBBB
    BBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBB
  )"),
                      ColorArt(raster));
  EXPECT_PRED_FORMAT2(SameArt, Art(ALL_OPAQUE), MaskArt(raster));
}

TEST(CharStyle, CutsTheTopLabelToFourAndTheBottomLabelToThreeCharacters) {
  const std::string cut = ColorArt(PaintIconRaster("WXYZ", "ABC", 112));
  EXPECT_EQ(ColorArt(PaintIconRaster("WXYZW", "ABCD", 112)), cut);
  EXPECT_EQ(ColorArt(PaintIconRaster("WXYZ0123456789", "ABCDEFGHIJ", 112)), cut);
  EXPECT_NE(ColorArt(PaintIconRaster("WXY", "AB", 112)), cut);
}

// Bars of read height r on the left and write height w on the right, and
// the base line, for the given legend letter of the base line.
std::string BarShapes(int r, int w, char baseColor) {
  std::string art;
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 16; ++x) {
      const bool read = x <= 6 && y >= 15 - std::min(r, 15);
      const bool write = x >= 9 && y >= 15 - std::min(w, 15);
      art += read ? 'G' : write ? 'R' : '.';
    }
    art += '\n';
  }
  return art + std::string(16, baseColor) + '\n';
}

std::string BarMask(int r, int w) {
  std::string art = BarShapes(r, w, '#');
  for (char& c : art) {
    if (c == 'G' || c == 'R') c = '#';
  }
  return art;
}

TEST(BarStyle, BarsGrowFromRowFourteenAndHeightsAboveFifteenDrawLikeFifteen) {
  for (const int r : {0, 1, 7, 15, 16, 99}) {
    for (const int w : {0, 1, 7, 15, 16, 99}) {
      const IconCode code = 13 * 10000 + r * 100 + w;
      SCOPED_TRACE(code);
      const IconRaster shapes = PaintIconShapes(code);
      EXPECT_PRED_FORMAT2(SameArt, BarShapes(r, w, 'B'), ColorArt(shapes));
      EXPECT_PRED_FORMAT2(SameArt, BarMask(r, w), MaskArt(shapes));
      for (int y = 0; y < 15; ++y) {
        for (const int x : {7, 8}) EXPECT_FALSE(shapes.OpaqueAt(x, y)) << "column " << x << " row " << y;
      }
    }
  }
}

TEST(BarStyle, AFullPictureWithTopLabelAndRW) {
  const IconRaster raster = PaintIconRaster("TAV", "OLI", 130705);  // blue, read 7, write 5
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    ................
    ..BBB..B..B.B...
    ...B..B.B.B.B...
    ...B..BBB.B.B...
    ...B..B.B.B.B...
    ...B..B.B..B....
    ................
    ................
    GGBBGGG..B...B..
    GGBGBGG..B...B..
    GGBBGGG..BRBRBRR
    GGBGBGG..BBRBBRR
    GGBGBGG..BRRRBRR
    GGGGGGG..RRRRRRR
    GGGGGGG..RRRRRRR
    BBBBBBBBBBBBBBBB
  )"),
                      ColorArt(raster));
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    ................
    ..###..#..#.#...
    ...#..#.#.#.#...
    ...#..###.#.#...
    ...#..#.#.#.#...
    ...#..#.#..#....
    ................
    ................
    #######..#...#..
    #######..#...#..
    #######..#######
    #######..#######
    #######..#######
    #######..#######
    #######..#######
    ################
  )"),
                      MaskArt(raster));
}

TEST(BarStyle, DrawsRWWhateverBottomLabelIsPassed) {
  const std::string expected = ColorArt(PaintIconRaster("TAV", "R W", 120305));
  for (const char* bottom : {"", "OLI", "XYZW"}) {
    EXPECT_EQ(ColorArt(PaintIconRaster("TAV", bottom, 120305)), expected) << bottom;
    EXPECT_EQ(MaskArt(PaintIconRaster("TAV", bottom, 120305)), MaskArt(PaintIconRaster("TAV", "R W", 120305)));
  }
  EXPECT_EQ(IconTextsOf("TAV", "OLI", 120305).bottom, "R W");
}

TEST(BarStyle, BaseLineAndLabelsTakeTheColourOfTheCode) {
  const std::pair<IconCode, Rgb> cases[] = {
      {100000, LABEL_IDLE_COLOR}, {111500, Rgb{255, 0, 0}}, {171515, RGB_BLACK},   {180000, RGB_WHITE},
      {190000, RGB_WHITE},        {10000, RGB_WHITE},       {99990000, RGB_WHITE}, {INT_MAX, RGB_WHITE},
  };
  for (const auto& [code, color] : cases) {
    SCOPED_TRACE(code);
    const IconRaster raster = PaintIconRaster("TAV", "", code);
    EXPECT_EQ(LabelColor(code), color);
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(raster.ColorAt(x, 15), color);
      EXPECT_TRUE(raster.OpaqueAt(x, 15));
    }
    const IconPixelSet glyphs = LabelGlyphPixels("TAV", TOP_LABEL_RECT);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
      if (glyphs[i]) {
        EXPECT_EQ(raster.color[i], color);
      }
    }
  }
}

TEST(BarStyle, CodeTenThousandHasOnlyTheWhiteBaseLineAndLabels) {
  const IconRaster shapes = PaintIconShapes(10000);
  EXPECT_PRED_FORMAT2(SameArt, BarShapes(0, 0, 'W'), ColorArt(shapes));
  const IconRaster raster = PaintIconRaster("TAV", "OLI", 10000);
  IconPixelSet expectedOpaque = LabelGlyphPixels("TAV", TOP_LABEL_RECT);
  const IconPixelSet rw = LabelGlyphPixels("R W", BOTTOM_LABEL_RECT);
  for (std::size_t i = 0; i < expectedOpaque.size(); ++i) expectedOpaque[i] = expectedOpaque[i] || rw[i] || i >= 240;
  EXPECT_PRED_FORMAT2(SameArt, PixelSetArt(expectedOpaque), MaskArt(raster));
}

TEST(DecodeBarCode, SplitsColourReadAndWriteHeights) {
  const BarCode bar = DecodeBarCode(13 * 10000 + 7 * 100 + 12);
  EXPECT_EQ(bar.color, 13);
  EXPECT_EQ(bar.readHeight, 7);
  EXPECT_EQ(bar.writeHeight, 12);
  const BarCode largest = DecodeBarCode(INT_MAX);  // 2147483647
  EXPECT_EQ(largest.color, 214748);
  EXPECT_EQ(largest.readHeight, 36);
  EXPECT_EQ(largest.writeHeight, 47);
}

// Codes of every style, ordinary and out of range, for the whole-picture rules.
const IconCode SWEEP[] = {INT_MIN, -5,  0,   10,   13,    17,     18,     19,     100,    101,    109,    110,
                          113,     117, 118, 9999, 10000, 100000, 111515, 121600, 139999, 171507, 189901, INT_MAX};

TEST(IconRaster, WhereverTheMaskIsWhiteTheColourIsBlack) {
  for (const IconCode code : SWEEP) {
    for (const char* top : {"", "TAV", "@W#M"}) {
      const IconRaster raster = PaintIconRaster(top, "OLI", code);
      for (std::size_t i = 0; i < raster.color.size(); ++i) {
        if (!raster.opaque[i]) {
          EXPECT_EQ(raster.color[i], RGB_BLACK) << "code " << code << " pixel " << i;
        }
      }
    }
  }
}

TEST(LabelGlyphArea, CoversTheRectanglesOfTheDrawnTexts) {
  const IconPixelSet none{};
  EXPECT_EQ(LabelGlyphArea("TAV", "OLI", 13), none);
  EXPECT_EQ(LabelGlyphArea("", "", 113), none);
  const IconPixelSet top = LabelGlyphArea("TAV", "", 113);
  EXPECT_EQ(Count(top), 16 * 9);
  EXPECT_TRUE(top[8 * 16 + 15]);
  EXPECT_FALSE(top[9 * 16]);
  const IconPixelSet rw = LabelGlyphArea("", "", 130000);  // "R W" is drawn all the same
  EXPECT_EQ(Count(rw), 16 * 9);
  EXPECT_FALSE(rw[6 * 16 + 15]);
  EXPECT_TRUE(rw[7 * 16]);
  EXPECT_EQ(Count(LabelGlyphArea("T", "", 130000)), 256);
}

TEST(LabelGlyphArea, OutsideItThePictureIsTheShapesAlone) {
  for (const IconCode code : SWEEP) {
    for (const char* top : {"", "TAV", "MWMW"}) {
      for (const char* bottom : {"", "OLI", "~~~"}) {
        const IconRaster raster = PaintIconRaster(top, bottom, code);
        const IconRaster shapes = PaintIconShapes(code);
        const IconPixelSet area = LabelGlyphArea(top, bottom, code);
        for (std::size_t i = 0; i < area.size(); ++i) {
          if (area[i]) continue;
          EXPECT_EQ(raster.color[i], shapes.color[i]) << code << " " << top << "/" << bottom << " pixel " << i;
          EXPECT_EQ(raster.opaque[i], shapes.opaque[i]) << code << " " << top << "/" << bottom << " pixel " << i;
        }
      }
    }
  }
}

// The sizes the notification area asks for at 100 % to 200 %, and 22 for
// the Linux hosts that draw 22 px.
const int SIZES[] = {16, 20, 22, 24, 28, 32};

// Every pixel's colour is one the style paints with: no blending anywhere.
std::vector<Rgb> Palette(IconCode code) {
  switch (IconStyleOf(code)) {
    case IconStyle::Symbol: return {RGB_BLACK, IconKeyColor(code)};
    case IconStyle::Char: return {IconKeyColor(code), CHAR_LABEL_COLOR};
    case IconStyle::Bar: break;
  }
  return {RGB_BLACK, READ_BAR_COLOR, WRITE_BAR_COLOR, IconKeyColor(code)};
}

// Rows of column x, from the bottom up, that carry a bar (the base line
// below it and the labels over it aside).
int BarPixels(const IconRaster& shapes, int x, Rgb barColor) {
  int count = 0;
  for (int y = 0; y < shapes.size; ++y) count += shapes.ColorAt(x, y) == barColor;
  return count;
}

TEST(IconSizes, EverySizeKeepsThePaletteTheBarOrderAndMultiplesOfSixteenScaleExactly) {
  for (const int size : SIZES) {
    SCOPED_TRACE(size);
    const IconLayout layout = LayoutFor(size);
    EXPECT_EQ(layout.size, size);
    for (const IconCode code : SWEEP) {
      const IconRaster raster = PaintIconRaster("TAV", "OLI", code, size);
      ASSERT_EQ(raster.size, size);
      const std::vector<Rgb> palette = Palette(code);
      for (std::size_t i = 0; i < raster.color.size(); ++i) {
        EXPECT_NE(std::find(palette.begin(), palette.end(), raster.color[i]), palette.end()) << code << " pixel " << i;
        if (!raster.opaque[i]) {
          EXPECT_EQ(raster.color[i], RGB_BLACK) << code << " pixel " << i;
        }
      }
      // 32 px is the 16 px picture with every pixel doubled.
      if (size % ICON_SIZE != 0) continue;
      const IconRaster small = PaintIconRaster("TAV", "OLI", code);
      const int factor = size / ICON_SIZE;
      for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
          ASSERT_EQ(raster.ColorAt(x, y), small.ColorAt(x / factor, y / factor))
              << code << " (" << x << "," << y << ")";
          ASSERT_EQ(raster.OpaqueAt(x, y), small.OpaqueAt(x / factor, y / factor))
              << code << " (" << x << "," << y << ")";
        }
      }
    }
    // Taller bars for larger heights, in both groups, the gap between them
    // never filled; a full bar reaches the top.
    int lastRead = -1;
    int lastWrite = -1;
    for (int height = 0; height <= 15; ++height) {
      const IconRaster shapes = PaintIconShapes(130000 + height * 100 + height, size);
      const int read = BarPixels(shapes, 0, READ_BAR_COLOR);
      const int write = BarPixels(shapes, size - 1, WRITE_BAR_COLOR);
      EXPECT_GT(read, lastRead) << "height " << height;
      EXPECT_EQ(write, read) << "height " << height;
      for (int x = 0; x < size; ++x) {
        const bool inRead = BarPixels(shapes, x, READ_BAR_COLOR) > 0;
        const bool inWrite = BarPixels(shapes, x, WRITE_BAR_COLOR) > 0;
        EXPECT_TRUE(!inRead || x < size / 2) << x;
        EXPECT_TRUE(!inWrite || x >= size / 2) << x;
        if (height > 0) {
          EXPECT_NE(inRead || inWrite, x >= size / 2 - layout.stroke && x < size / 2 + layout.stroke) << x;
        }
      }
      lastRead = read;
      lastWrite = write;
    }
    EXPECT_EQ(lastRead, size - layout.stroke);
    EXPECT_EQ(lastWrite, size - layout.stroke);
    // Heights above 15 draw like 15, at every size.
    EXPECT_EQ(ColorArt(PaintIconShapes(139999, size)), ColorArt(PaintIconShapes(131515, size)));
  }
}

TEST(IconSizes, TheDesignDrawnNativelyAtTwentyFourPixels) {
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    ........................
    .........BBBBBB.........
    .........BBBBBB.........
    ......BBB......BBB......
    ......BBB......BBB......
    ....BB............BB....
    ....BBBBB......BBBBB....
    ....BBBBB......BBBBB....
    ....BB...BBBBBB...BB....
    ....BB...BBBBBB...BB....
    ....BB............BB....
    ....BB............BB....
    ....BB.........BBBBBBBB.
    ....BB.........BBBBBBBB.
    ....BB............BB....
    ....BB............BB....
    ....BB............BB....
    ....BB............BB....
    ....BB............BB....
    ......BBB......BBB......
    ......BBB......BBB......
    .........BBBBBB.........
    .........BBBBBB.........
    ........................
  )"),
                      ColorArt(PaintIconRaster("TAV", "OLI", 13, 24)));
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBByyyBByBByByBBBBBBB
    BBBBBBByBByByByByBBBBBBB
    BBBBBBByBByyyByByBBBBBBB
    BBBBBBByBByByByByBBBBBBB
    BBBBBBByBByByBByBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBByBByBBByyyBBBBBBB
    BBBBBByByByBBBByBBBBBBBB
    BBBBBByByByBBBByBBBBBBBB
    BBBBBByByByBBBByBBBBBBBB
    BBBBBBByBByyyByyyBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
  )"),
                      ColorArt(PaintIconRaster("TAV", "OLI", 113, 24)));
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    ........................
    ........................
    ......BBB..B..B.B.......
    .......B..B.B.B.B.......
    .......B..BBB.B.B.......
    .......B..B.B.B.B.......
    .......B..B.B..B........
    ........................
    ........................
    ........................
    ........................
    ........................
    GGGGGGGGGG..............
    GGGGGGBBGG...B...B......
    GGGGGGBGBG...B...B......
    GGGGGGBBGG...BRBRBRRRRRR
    GGGGGGBGBG...BBRBBRRRRRR
    GGGGGGBGBG...BRRRBRRRRRR
    GGGGGGGGGG....RRRRRRRRRR
    GGGGGGGGGG....RRRRRRRRRR
    GGGGGGGGGG....RRRRRRRRRR
    GGGGGGGGGG....RRRRRRRRRR
    BBBBBBBBBBBBBBBBBBBBBBBB
    BBBBBBBBBBBBBBBBBBBBBBBB
  )"),
                      ColorArt(PaintIconRaster("TAV", "OLI", 130705, 24)));
}

TEST(IconTextsOf, NullLabelsCountAsEmpty) {
  const IconTexts texts = IconTextsOf(nullptr, nullptr, 113);
  EXPECT_EQ(texts.top, "");
  EXPECT_EQ(texts.bottom, "");
  EXPECT_PRED_FORMAT2(SameArt, Uniform('B'), ColorArt(PaintIconRaster(nullptr, nullptr, 113)));
}

}  // namespace
