// The activity icon as pure pixels: what the painter puts on the colour
// raster and on the mask for an IconCode and two labels. The Windows painter
// takes its decoding, colours and strokes from here; tests, the gallery and
// other platforms paint with the raster itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/gleamo_types.h"

constexpr int ICON_SIZE = 16;
constexpr int ICON_PIXELS = ICON_SIZE * ICON_SIZE;

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;

  friend constexpr bool operator==(Rgb a, Rgb b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }
  friend constexpr bool operator!=(Rgb a, Rgb b) { return !(a == b); }
};

constexpr Rgb RGB_BLACK{0, 0, 0};
constexpr Rgb RGB_WHITE{255, 255, 255};
constexpr Rgb SYMBOL_IDLE_COLOR{76, 76, 76};    // dark grey
constexpr Rgb LABEL_IDLE_COLOR{245, 245, 245};  // near-white: char background and bar labels when idle
constexpr Rgb READ_BAR_COLOR{0, 255, 0};
constexpr Rgb WRITE_BAR_COLOR{255, 0, 0};
constexpr Rgb CHAR_LABEL_COLOR{139, 139, 0};  // dark yellow

enum class IconStyle { Symbol, Char, Bar };

// 10000 and above: bar; 101 to 9999: char; 100 and below, negatives too: symbol.
IconStyle IconStyleOf(IconCode code);

// The colour table: keys 11-17 are the named colours, 10 the idle colour of
// the style, every other key white.
Rgb KeyColor(int key, IconStyle style);

// The one colour a code paints in: the symbol's strokes, the char style's
// background, the bar style's base line and labels.
Rgb IconKeyColor(IconCode code);

struct BarCode {
  ColorCode color;  // code / 10000; any value, unknown ones paint white
  int readHeight;   // 0-99; 16 and above draw like 15
  int writeHeight;  // 0-99
};
BarCode DecodeBarCode(IconCode code);

// Rectangles as the platform writes them: right and bottom exclusive.
struct IconRect {
  int left, top, right, bottom;
};
struct IconPoint {
  int x, y;
};
// A horizontal or vertical line from start to end, end excluded.
struct IconStroke {
  IconPoint start, end;
};

constexpr IconRect TOP_LABEL_RECT{0, 0, 16, 9};
constexpr IconRect BOTTOM_LABEL_RECT{0, 7, 16, 18};
constexpr char BAR_BOTTOM_TEXT[] = "R W";
constexpr int TOP_LABEL_MAX = 4;     // characters
constexpr int BOTTOM_LABEL_MAX = 3;  // characters

// The disk symbol: its strokes in drawing order, in the symbol colour.
extern const std::array<IconStroke, 12> SYMBOL_STROKES;
// Bar strokes: for x = 0-6 from (x, 14) to (x, 14 - read height), for
// x = 9-15 from (x, 14) to (x, 14 - write height); the base line below.
constexpr int BAR_FOOT_ROW = 14;
constexpr IconStroke BAR_BASE_LINE{{0, 15}, {16, 15}};

// The texts a code's style draws: the labels cut to 4 and 3 characters in
// the char style; the top label and "R W" in the bar style; none for symbols.
// A null label counts as empty.
struct IconTexts {
  std::string top;
  std::string bottom;
};
IconTexts IconTextsOf(const char* topLabel, const char* bottomLabel, IconCode code);

// The colour of label glyphs on the colour raster (black for symbols, which
// draw none). On the mask glyphs are black.
Rgb LabelColor(IconCode code);

using IconPixelSet = std::array<bool, ICON_PIXELS>;  // index y * 16 + x

// The index of pixel (x, y) in the picture's arrays, for x and y in 0..15.
constexpr std::size_t PixelIndex(int x, int y) {
  return static_cast<std::size_t>(y) * ICON_SIZE + static_cast<std::size_t>(x);
}

struct IconRaster {
  std::array<Rgb, ICON_PIXELS> color{};  // index y * 16 + x; starts black
  IconPixelSet opaque{};                 // true where the mask is black

  Rgb ColorAt(int x, int y) const { return color[PixelIndex(x, y)]; }
  bool OpaqueAt(int x, int y) const { return opaque[PixelIndex(x, y)]; }
};

// The whole picture, labels drawn with gleamo's own label face.
IconRaster PaintIconRaster(const char* topLabel, const char* bottomLabel, IconCode code);

// The picture without any label glyph: what lies under the labels.
IconRaster PaintIconShapes(IconCode code);

// The glyph pixels of one text laid out by the label drawing rule: one line
// from the rectangle's top row, centred in the 16-pixel width (the extra
// pixel of an odd free width on the right), clipped to the rectangle and the
// raster.
IconPixelSet LabelGlyphPixels(const std::string& text, IconRect rect);

// Where a label glyph could fall whatever face draws it: the rectangles of
// the texts the style draws (IconTextsOf), empty texts left out. Outside this
// set every face gives the same picture as PaintIconShapes.
IconPixelSet LabelGlyphArea(const char* topLabel, const char* bottomLabel, IconCode code);
