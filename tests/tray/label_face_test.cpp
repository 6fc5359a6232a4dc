#include "tray/label_face.h"

#include <gtest/gtest.h>

#include "tests/tray/raster_art.h"
#include "tray/icon_raster.h"

namespace {

int InkCount(const LabelGlyph& glyph) {
  int count = 0;
  for (int y = 0; y < LABEL_CELL_HEIGHT; ++y) {
    for (int x = 0; x < 8; ++x) count += glyph.Ink(x, y);
  }
  return count;
}

TEST(LabelFace, EveryPrintableCharacterHasAGlyphInsideItsCell) {
  for (char c = ' '; c <= '~'; ++c) {
    SCOPED_TRACE(testing::Message() << "'" << c << "'");
    const LabelGlyph glyph = LabelGlyphOf(c);
    EXPECT_GE(glyph.width, 1);
    EXPECT_LE(glyph.width, 5);
    EXPECT_EQ(glyph.rows[0], 0) << "row 0 is leading";
    for (int y = 0; y < LABEL_CELL_HEIGHT; ++y) EXPECT_EQ(glyph.rows[y] >> glyph.width, 0) << "ink right of the width";
    if (c == ' ') {
      EXPECT_EQ(InkCount(glyph), 0);
    } else {
      EXPECT_GT(InkCount(glyph), 0);
    }
  }
}

TEST(LabelFace, CapitalsAndDigitsAreDistinct) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    for (std::size_t j = i + 1; j < alphabet.size(); ++j) {
      const LabelGlyph a = LabelGlyphOf(alphabet[i]);
      const LabelGlyph b = LabelGlyphOf(alphabet[j]);
      const bool same = a.width == b.width && std::equal(a.rows, a.rows + LABEL_CELL_HEIGHT, b.rows);
      EXPECT_FALSE(same) << alphabet[i] << " and " << alphabet[j] << " look alike";
    }
  }
}

TEST(LabelFace, BytesOutsidePrintableAsciiShowAsABox) {
  const LabelGlyph box = LabelGlyphOf('\x01');
  EXPECT_EQ(box.width, 4);
  EXPECT_EQ(InkCount(box), 14);
  for (const char c : {'\t', '\n', '\x7f', '\x80', '\xe4', '\xff'}) {
    const LabelGlyph glyph = LabelGlyphOf(c);
    EXPECT_EQ(glyph.width, box.width);
    EXPECT_TRUE(std::equal(glyph.rows, glyph.rows + LABEL_CELL_HEIGHT, box.rows)) << int(c);
  }
}

TEST(LabelTextWidth, AddsGlyphWidthsAndOneGapBetweenNeighbours) {
  EXPECT_EQ(LabelTextWidth(""), 0);
  EXPECT_EQ(LabelTextWidth("T"), 3);
  EXPECT_EQ(LabelTextWidth("TAV"), 11);
  EXPECT_EQ(LabelTextWidth("R W"), 12);
  EXPECT_EQ(LabelTextWidth("MW"), 11);
}

TEST(LabelGlyphPixels, CentresOneLineFromTheTopRowAndClipsToTheRectangle) {
  // Free width 16 - 3 = 13: six columns left of the glyph, seven right.
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    ................
    ......###.......
    .......#........
    .......#........
    .......#........
    .......#........
    ................
    ................
    ................
    ................
    ................
    ................
    ................
    ................
    ................
    ................
  )"),
                      PixelSetArt(LabelGlyphPixels("T", TOP_LABEL_RECT)));
  // Wider than 16: overhangs both sides and is cut at the rectangle, here
  // also at its bottom: rows 10 to 13 of the glyphs' rows 10 to 14.
  EXPECT_PRED_FORMAT2(SameArt, Art(R"(
    ................
    ................
    ................
    ................
    ................
    ................
    ................
    ................
    ................
    ................
    #.#...#.#...#.#.
    #.#...#.#...#.#.
    #.#.#.#.#.#.#.#.
    #.##.##.##.##.##
    ................
    ................
  )"),
                      PixelSetArt(LabelGlyphPixels("WWWW", IconRect{0, 9, 16, 14})));
  EXPECT_EQ(LabelGlyphPixels("", TOP_LABEL_RECT), IconPixelSet{});
}

}  // namespace
