// The activity icon as pure pixels: what the painter puts on the colour
// raster and on the mask for an IconCode and two labels. The Windows painter
// takes its decoding, colours, strokes and label places from here; tests, the
// gallery and other platforms paint with the raster itself.
//
// The design is drawn on 16x16 pixels. Larger icons are the same design
// drawn natively at their size (IconLayout): every line of the 16 px picture
// becomes a line `stroke` pixels wide, the space between lines shares the
// rest, so edges stay on pixel boundaries and no colour is blended; at 32 px
// (and every multiple of 16) that is exactly the 16 px picture scaled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/gleamo_types.h"

constexpr int ICON_SIZE = 16;  // the size the design is drawn at
constexpr int ICON_PIXELS = ICON_SIZE * ICON_SIZE;
// Sizes a picture can be asked for; others are brought into this range.
constexpr int ICON_MIN_SIZE = ICON_SIZE;
constexpr int ICON_MAX_SIZE = 256;
int ClampIconSize(int size);

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

// The index of pixel (x, y) in a 16 px picture's arrays, for x and y in 0..15.
constexpr std::size_t PixelIndex(int x, int y) {
  return static_cast<std::size_t>(y) * ICON_SIZE + static_cast<std::size_t>(x);
}

// A set of the pixels of a square picture, index y * size + x; 16x16 and
// empty unless made for another size.
class IconPixelSet {
 public:
  IconPixelSet() = default;
  explicit IconPixelSet(int side) : side_(side), members_(static_cast<std::size_t>(side) * side) {}

  int Side() const { return side_; }
  std::size_t size() const { return members_.size(); }
  std::vector<bool>::reference operator[](std::size_t i) { return members_[i]; }
  bool operator[](std::size_t i) const { return members_[i]; }
  bool At(int x, int y) const { return members_[Index(x, y)]; }
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(side_) + static_cast<std::size_t>(x);
  }
  auto begin() const { return members_.begin(); }
  auto end() const { return members_.end(); }
  void fill(bool member) { members_.assign(members_.size(), member); }

  friend bool operator==(const IconPixelSet& a, const IconPixelSet& b) {
    return a.side_ == b.side_ && a.members_ == b.members_;
  }
  friend bool operator!=(const IconPixelSet& a, const IconPixelSet& b) { return !(a == b); }

 private:
  int side_ = ICON_SIZE;
  std::vector<bool> members_ = std::vector<bool>(ICON_PIXELS);
};

// A picture that carries its size: 16x16 unless made for another size.
struct IconRaster {
  IconRaster() = default;
  explicit IconRaster(int side) : size(side), color(static_cast<std::size_t>(side) * side), opaque(side) {}

  int size = ICON_SIZE;
  std::vector<Rgb> color = std::vector<Rgb>(ICON_PIXELS);  // index y * size + x; starts black
  IconPixelSet opaque;                                     // true where the mask is black

  Rgb ColorAt(int x, int y) const { return color[opaque.Index(x, y)]; }
  bool OpaqueAt(int x, int y) const { return opaque.At(x, y); }
};

// Where the design's parts lie at one size. A line of the 16 px design is
// `stroke` pixels wide (size / 16, rounded); the labels are drawn with the
// label face scaled by `labelScale`, as much as the lines unless the two
// texts would crowd each other, from the tops of their rectangles.
struct IconLayout {
  int size = ICON_SIZE;
  int stroke = 1;
  int labelScale = 1;
  IconRect topLabel = TOP_LABEL_RECT;
  IconRect bottomLabel = BOTTOM_LABEL_RECT;
};
IconLayout LayoutFor(int size);  // the size is clamped first

// The strokes that draw a part at the layout's size, each one pixel wide,
// from start to end with the end excluded, in the order and direction of
// the 16 px strokes they stand for (at 16 px the very same strokes):
// the disk symbol, in the symbol colour;
std::vector<IconStroke> SymbolStrokes(const IconLayout& layout);
// the bars of one group: heights 0-15 (larger ones draw like 15) of the 16
// px design, mapped onto the taller bars in order;
enum class BarGroup { Read, Write };
std::vector<IconStroke> BarStrokes(const IconLayout& layout, BarGroup group, int height);
// the bar style's base line.
std::vector<IconStroke> BaseLineStrokes(const IconLayout& layout);

// The whole picture, labels drawn with gleamo's own label face.
IconRaster PaintIconRaster(const char* topLabel, const char* bottomLabel, IconCode code, int size = ICON_SIZE);

// The picture without any label glyph: what lies under the labels.
IconRaster PaintIconShapes(IconCode code, int size = ICON_SIZE);

// The glyph pixels of one text laid out by the label drawing rule: one line
// from the rectangle's top row, centred in the rectangle's width (the extra
// pixel, or face pixel, of an odd free width on the right), clipped to the
// rectangle and the picture; each pixel of the face drawn as a square of
// `scale` pixels.
IconPixelSet LabelGlyphPixels(const std::string& text, IconRect rect, int size = ICON_SIZE, int scale = 1);

// Where a label glyph could fall whatever face draws it: the rectangles of
// the texts the style draws (IconTextsOf), empty texts left out. Outside this
// set every face gives the same picture as PaintIconShapes.
IconPixelSet LabelGlyphArea(const char* topLabel, const char* bottomLabel, IconCode code, int size = ICON_SIZE);
