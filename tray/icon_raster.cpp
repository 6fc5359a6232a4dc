#include "tray/icon_raster.h"

#include <algorithm>

#include "tray/label_face.h"

const std::array<IconStroke, 12> SYMBOL_STROKES{{
    {{3, 3}, {3, 13}},     // left wall
    {{4, 13}, {6, 13}},    // bottom curve
    {{6, 14}, {10, 14}},   //
    {{10, 13}, {12, 13}},  //
    {{12, 12}, {12, 2}},   // right wall, drawn upwards
    {{10, 2}, {12, 2}},    // top ellipse
    {{10, 4}, {12, 4}},    //
    {{10, 8}, {15, 8}},    // the bar across the right wall
    {{4, 2}, {6, 2}},      //
    {{4, 4}, {6, 4}},      //
    {{6, 1}, {10, 1}},     //
    {{6, 5}, {10, 5}},     //
}};

namespace {

constexpr IconCode FIRST_BAR_CODE = 10000;
constexpr IconCode FIRST_CHAR_CODE = 101;
constexpr int CHAR_KEY_OFFSET = 100;

// Where each of the design's 16 columns (or rows) begins at a size; entry 16
// is the size itself.
using Bands = std::array<int, ICON_SIZE + 1>;

// Lines running across this axis of the design, by the column (or row) they
// lie in. The bar style's gap between its groups counts as two lines, so it
// keeps its width beside the bars.
constexpr int SYMBOL_COLUMN_LINES[] = {3, 12};
constexpr int SYMBOL_ROW_LINES[] = {1, 2, 4, 5, 8, 13, 14};
constexpr int BAR_COLUMN_LINES[] = {7, 8};
constexpr int BAR_ROW_LINES[] = {15};
constexpr int READ_FIRST_COLUMN = 0;
constexpr int WRITE_FIRST_COLUMN = 9;
constexpr int BAR_GROUP_WIDTH = 7;
constexpr int MAX_BAR_HEIGHT = 15;
// Capitals and digits of the label face: rows 1-5 of its cell.
constexpr int LABEL_INK_TOP = 1;
constexpr int LABEL_INK_ROWS = 5;
// Scaled by k, the two texts stand one above the other with room around them
// in 14 k rows: a picture of fewer rows takes a smaller k.
constexpr int LABEL_FIT_ROWS = 14;

int FloorDiv(int a, int b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// a / b rounded, halves up, for a >= 0 and b > 0.
int RoundedDiv(int a, int b) {
  return (2 * a + b) / (2 * b);
}

// Lines get `stroke` pixels each; the other cells share the rest, each
// boundary rounded on its own, so at a multiple of 16 every cell is equally
// wide. The stroke of LayoutFor leaves every cell at least one pixel.
template <std::size_t LINES>
Bands MakeBands(int size, int stroke, const int (&lines)[LINES]) {
  std::array<bool, ICON_SIZE> isLine{};
  for (const int cell : lines) isLine[static_cast<std::size_t>(cell)] = true;
  const int spaceCells = ICON_SIZE - static_cast<int>(LINES);
  const int spacePixels = size - stroke * static_cast<int>(LINES);
  Bands bands{};
  int linesBefore = 0;
  int spacesBefore = 0;
  for (std::size_t cell = 0; cell <= ICON_SIZE; ++cell) {
    bands[cell] = stroke * linesBefore + RoundedDiv(spacePixels * spacesBefore, spaceCells);
    if (cell < ICON_SIZE) (isLine[cell] ? linesBefore : spacesBefore) += 1;
  }
  return bands;
}

// The 16 px stroke's cells on one axis as the pixels [first, last] in its
// direction, or nothing for a stroke that ends where it starts.
struct PixelRun {
  int from, to;  // inclusive, in drawing order
};
PixelRun RunAlong(int start, int end, const Bands& bands) {
  if (end > start) return {bands[start], bands[end] - 1};
  return {bands[start + 1] - 1, bands[end + 1]};
}

// Appends the one-pixel strokes that fill a 16 px stroke's band at the size
// of the bands, in its direction; across the stroke in ascending order.
void AddBandStrokes(std::vector<IconStroke>& strokes, const IconStroke& unit, const Bands& columns, const Bands& rows) {
  const bool horizontal = unit.start.y == unit.end.y;
  const int along0 = horizontal ? unit.start.x : unit.start.y;
  const int along1 = horizontal ? unit.end.x : unit.end.y;
  if (along0 == along1) return;
  const int across = horizontal ? unit.start.y : unit.start.x;
  const Bands& alongBands = horizontal ? columns : rows;
  const Bands& acrossBands = horizontal ? rows : columns;
  const PixelRun run = RunAlong(along0, along1, alongBands);
  const int step = along1 > along0 ? 1 : -1;
  for (int line = acrossBands[across]; line < acrossBands[across + 1]; ++line) {
    if (horizontal) {
      strokes.push_back({{run.from, line}, {run.to + step, line}});
    } else {
      strokes.push_back({{line, run.from}, {line, run.to + step}});
    }
  }
}

bool InRaster(const IconRaster& raster, int x, int y) {
  return x >= 0 && x < raster.size && y >= 0 && y < raster.size;
}

// Calls paint(x, y) for every raster pixel of a stroke, the end excluded.
template <typename Paint>
void ForEachStrokePixel(const IconRaster& raster, const IconStroke& stroke, Paint paint) {
  const int stepX = (stroke.end.x > stroke.start.x) - (stroke.end.x < stroke.start.x);
  const int stepY = (stroke.end.y > stroke.start.y) - (stroke.end.y < stroke.start.y);
  for (int x = stroke.start.x, y = stroke.start.y; x != stroke.end.x || y != stroke.end.y; x += stepX, y += stepY) {
    if (InRaster(raster, x, y)) paint(x, y);
  }
}

void StrokeColor(IconRaster& raster, const std::vector<IconStroke>& strokes, Rgb color) {
  for (const IconStroke& stroke : strokes) {
    ForEachStrokePixel(raster, stroke, [&](int x, int y) { raster.color[raster.opaque.Index(x, y)] = color; });
  }
}

void StrokeMask(IconRaster& raster, const std::vector<IconStroke>& strokes) {
  for (const IconStroke& stroke : strokes) {
    ForEachStrokePixel(raster, stroke, [&](int x, int y) { raster.opaque[raster.opaque.Index(x, y)] = true; });
  }
}

std::string CutLabel(const char* label, std::size_t limit) {
  std::size_t length = 0;
  while (label != nullptr && length < limit && label[length] != '\0') ++length;
  return {label == nullptr ? "" : label, length};
}

void AddRect(IconPixelSet& pixels, IconRect rect) {
  for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, pixels.Side()); ++y) {
    for (int x = std::max(rect.left, 0); x < std::min(rect.right, pixels.Side()); ++x)
      pixels[pixels.Index(x, y)] = true;
  }
}

}  // namespace

int ClampIconSize(int size) {
  return std::clamp(size, ICON_MIN_SIZE, ICON_MAX_SIZE);
}

IconLayout LayoutFor(int size) {
  IconLayout layout;
  layout.size = ClampIconSize(size);
  layout.stroke = RoundedDiv(layout.size, ICON_SIZE);
  // As large as the lines, unless the two texts would no longer fit one
  // above the other with room between them.
  layout.labelScale = std::min(layout.stroke, layout.size / LABEL_FIT_ROWS);
  // Each text's capitals are centred on the rows they cover in the 16 px
  // picture, mapped as the bar style's rows are.
  const Bands rows = MakeBands(layout.size, layout.stroke, BAR_ROW_LINES);
  const auto placed = [&](IconRect rect16) {
    const int firstInk = rect16.top + LABEL_INK_TOP;
    const int inkTop =
        FloorDiv(rows[firstInk] + rows[firstInk + LABEL_INK_ROWS] - LABEL_INK_ROWS * layout.labelScale, 2);
    const int top = inkTop - LABEL_INK_TOP * layout.labelScale;
    return IconRect{0, top, layout.size, top + (rect16.bottom - rect16.top) * layout.labelScale};
  };
  layout.topLabel = placed(TOP_LABEL_RECT);
  layout.bottomLabel = placed(BOTTOM_LABEL_RECT);
  return layout;
}

std::vector<IconStroke> SymbolStrokes(const IconLayout& layout) {
  const Bands columns = MakeBands(layout.size, layout.stroke, SYMBOL_COLUMN_LINES);
  const Bands rows = MakeBands(layout.size, layout.stroke, SYMBOL_ROW_LINES);
  std::vector<IconStroke> strokes;
  for (const IconStroke& unit : SYMBOL_STROKES) AddBandStrokes(strokes, unit, columns, rows);
  return strokes;
}

std::vector<IconStroke> BarStrokes(const IconLayout& layout, BarGroup group, int height) {
  const Bands columns = MakeBands(layout.size, layout.stroke, BAR_COLUMN_LINES);
  const Bands rows = MakeBands(layout.size, layout.stroke, BAR_ROW_LINES);
  const int first = group == BarGroup::Read ? READ_FIRST_COLUMN : WRITE_FIRST_COLUMN;
  const int top = BAR_FOOT_ROW + 1 - std::clamp(height, 0, MAX_BAR_HEIGHT);
  std::vector<IconStroke> strokes;
  for (int x = columns[first]; x < columns[first + BAR_GROUP_WIDTH]; ++x) {
    strokes.push_back({{x, rows[BAR_FOOT_ROW + 1] - 1}, {x, rows[top] - 1}});
  }
  return strokes;
}

std::vector<IconStroke> BaseLineStrokes(const IconLayout& layout) {
  const Bands rows = MakeBands(layout.size, layout.stroke, BAR_ROW_LINES);
  std::vector<IconStroke> strokes;
  for (int y = rows[BAR_BASE_LINE.start.y]; y < rows[BAR_BASE_LINE.start.y + 1]; ++y) {
    strokes.push_back({{0, y}, {layout.size, y}});
  }
  return strokes;
}

IconStyle IconStyleOf(IconCode code) {
  if (code >= FIRST_BAR_CODE) return IconStyle::Bar;
  if (code >= FIRST_CHAR_CODE) return IconStyle::Char;
  return IconStyle::Symbol;
}

Rgb KeyColor(int key, IconStyle style) {
  switch (key) {
    case COLOR_IDLE: return style == IconStyle::Symbol ? SYMBOL_IDLE_COLOR : LABEL_IDLE_COLOR;
    case COLOR_RED: return {255, 0, 0};
    case COLOR_GREEN: return {0, 255, 0};
    case COLOR_BLUE: return {0, 0, 255};
    case COLOR_YELLOW: return {255, 255, 0};
    case COLOR_VIOLET: return {205, 0, 255};
    case COLOR_TURQUOISE: return {0, 255, 255};
    case COLOR_BLACK: return RGB_BLACK;
    default: return RGB_WHITE;
  }
}

Rgb IconKeyColor(IconCode code) {
  switch (IconStyleOf(code)) {
    case IconStyle::Symbol: return KeyColor(code, IconStyle::Symbol);
    case IconStyle::Char: return KeyColor(code - CHAR_KEY_OFFSET, IconStyle::Char);
    case IconStyle::Bar: break;
  }
  return KeyColor(DecodeBarCode(code).color, IconStyle::Bar);
}

BarCode DecodeBarCode(IconCode code) {
  BarCode bar{};
  bar.color = code / 10000;
  bar.readHeight = (code % 10000) / 100;
  bar.writeHeight = code - bar.color * 10000 - bar.readHeight * 100;
  return bar;
}

IconTexts IconTextsOf(const char* topLabel, const char* bottomLabel, IconCode code) {
  switch (IconStyleOf(code)) {
    case IconStyle::Symbol: return {};
    case IconStyle::Char: return {CutLabel(topLabel, TOP_LABEL_MAX), CutLabel(bottomLabel, BOTTOM_LABEL_MAX)};
    case IconStyle::Bar: break;
  }
  return {CutLabel(topLabel, TOP_LABEL_MAX), BAR_BOTTOM_TEXT};
}

Rgb LabelColor(IconCode code) {
  switch (IconStyleOf(code)) {
    case IconStyle::Symbol: return RGB_BLACK;
    case IconStyle::Char: return CHAR_LABEL_COLOR;
    case IconStyle::Bar: break;
  }
  return IconKeyColor(code);
}

IconRaster PaintIconShapes(IconCode code, int size) {
  const IconLayout layout = LayoutFor(size);
  IconRaster raster(layout.size);  // colour black, mask white
  const Rgb keyColor = IconKeyColor(code);
  switch (IconStyleOf(code)) {
    case IconStyle::Symbol:
      StrokeColor(raster, SymbolStrokes(layout), keyColor);
      raster.opaque.fill(true);
      break;
    case IconStyle::Char:
      raster.color.assign(raster.color.size(), keyColor);
      raster.opaque.fill(true);
      break;
    case IconStyle::Bar: {
      const BarCode bar = DecodeBarCode(code);
      const std::vector<IconStroke> read = BarStrokes(layout, BarGroup::Read, bar.readHeight);
      const std::vector<IconStroke> write = BarStrokes(layout, BarGroup::Write, bar.writeHeight);
      const std::vector<IconStroke> baseLine = BaseLineStrokes(layout);
      StrokeColor(raster, read, READ_BAR_COLOR);
      StrokeMask(raster, read);
      StrokeColor(raster, write, WRITE_BAR_COLOR);
      StrokeMask(raster, write);
      StrokeColor(raster, baseLine, keyColor);
      StrokeMask(raster, baseLine);
      break;
    }
  }
  return raster;
}

IconPixelSet LabelGlyphPixels(const std::string& text, IconRect rect, int size, int scale) {
  IconPixelSet pixels(size);
  const int freeWidth = (rect.right - rect.left) - scale * LabelTextWidth(text);
  // Centred in whole face pixels, as the 16 px picture is, so that a multiple
  // of 16 px is that picture scaled; floor division, so that a text wider
  // than the rectangle overhangs both sides alike.
  const int freeUnits = FloorDiv(freeWidth, scale);
  int left = rect.left + FloorDiv(freeUnits, 2) * scale + (freeWidth - freeUnits * scale) / 2;
  const auto paint = [&](int blockX, int blockY) {
    for (int y = blockY; y < blockY + scale; ++y) {
      for (int x = blockX; x < blockX + scale; ++x) {
        const bool inRect = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
        if (inRect && x >= 0 && x < size && y >= 0 && y < size) pixels[pixels.Index(x, y)] = true;
      }
    }
  };
  for (const char character : text) {
    const LabelGlyph glyph = LabelGlyphOf(character);
    for (int row = 0; row < LABEL_CELL_HEIGHT; ++row) {
      for (int column = 0; column < glyph.width; ++column) {
        if (glyph.Ink(column, row)) paint(left + column * scale, rect.top + row * scale);
      }
    }
    left += (glyph.width + LABEL_GLYPH_GAP) * scale;
  }
  return pixels;
}

IconRaster PaintIconRaster(const char* topLabel, const char* bottomLabel, IconCode code, int size) {
  const IconLayout layout = LayoutFor(size);
  IconRaster raster = PaintIconShapes(code, layout.size);
  if (IconStyleOf(code) == IconStyle::Symbol) return raster;
  const IconTexts texts = IconTextsOf(topLabel, bottomLabel, code);
  const Rgb color = LabelColor(code);
  const bool glyphsOnMask = IconStyleOf(code) == IconStyle::Bar;
  for (const auto& [text, rect] :
       {std::make_pair(&texts.top, layout.topLabel), std::make_pair(&texts.bottom, layout.bottomLabel)}) {
    const IconPixelSet glyphs = LabelGlyphPixels(*text, rect, layout.size, layout.labelScale);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
      if (!glyphs[i]) continue;
      raster.color[i] = color;
      if (glyphsOnMask) raster.opaque[i] = true;
    }
  }
  return raster;
}

IconPixelSet LabelGlyphArea(const char* topLabel, const char* bottomLabel, IconCode code, int size) {
  const IconLayout layout = LayoutFor(size);
  IconPixelSet area(layout.size);
  const IconTexts texts = IconTextsOf(topLabel, bottomLabel, code);
  if (!texts.top.empty()) AddRect(area, layout.topLabel);
  if (!texts.bottom.empty()) AddRect(area, layout.bottomLabel);
  return area;
}
