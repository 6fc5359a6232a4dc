// gleamo's own small bitmap face for icon labels: printable ASCII in an
// 8-pixel cell, proportional, for pictures painted without the platform.
#pragma once

#include <cstdint>
#include <string_view>

constexpr int LABEL_CELL_HEIGHT = 8;
// Free columns between two neighbouring glyphs of a text.
constexpr int LABEL_GLYPH_GAP = 1;

// One glyph: row y of the cell (0 at the top) holds ink in column x when bit
// x of rows[y] is set. Row 0 stays empty as leading, capitals and digits use
// rows 1-5, descenders rows 6-7.
struct LabelGlyph {
  int width = 0;  // ink columns, 1 to 5
  std::uint8_t rows[LABEL_CELL_HEIGHT] = {};

  bool Ink(int x, int y) const {
    return x >= 0 && x < width && y >= 0 && y < LABEL_CELL_HEIGHT && ((rows[y] >> x) & 1);
  }
};

// The glyph of one character. Bytes outside printable ASCII (32-126) show
// as a hollow box, so that an unexpected byte is seen rather than lost.
LabelGlyph LabelGlyphOf(char character);

// Width of a text on one line: its glyphs' widths and the gaps between them.
int LabelTextWidth(std::string_view text);
