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

bool InRaster(int x, int y) {
  return x >= 0 && x < ICON_SIZE && y >= 0 && y < ICON_SIZE;
}

// Calls paint(x, y) for every raster pixel of a stroke, the end excluded.
template <typename Paint>
void ForEachStrokePixel(const IconStroke& stroke, Paint paint) {
  const int stepX = (stroke.end.x > stroke.start.x) - (stroke.end.x < stroke.start.x);
  const int stepY = (stroke.end.y > stroke.start.y) - (stroke.end.y < stroke.start.y);
  for (int x = stroke.start.x, y = stroke.start.y; x != stroke.end.x || y != stroke.end.y; x += stepX, y += stepY) {
    if (InRaster(x, y)) paint(x, y);
  }
}

void StrokeColor(IconRaster& raster, const IconStroke& stroke, Rgb color) {
  ForEachStrokePixel(stroke, [&](int x, int y) { raster.color[PixelIndex(x, y)] = color; });
}

void StrokeMask(IconRaster& raster, const IconStroke& stroke) {
  ForEachStrokePixel(stroke, [&](int x, int y) { raster.opaque[PixelIndex(x, y)] = true; });
}

std::string CutLabel(const char* label, std::size_t limit) {
  std::size_t length = 0;
  while (label != nullptr && length < limit && label[length] != '\0') ++length;
  return {label == nullptr ? "" : label, length};
}

void AddRect(IconPixelSet& pixels, IconRect rect) {
  for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, ICON_SIZE); ++y) {
    for (int x = std::max(rect.left, 0); x < std::min(rect.right, ICON_SIZE); ++x) pixels[PixelIndex(x, y)] = true;
  }
}

}  // namespace

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

IconRaster PaintIconShapes(IconCode code) {
  IconRaster raster;  // colour black, mask white
  const Rgb keyColor = IconKeyColor(code);
  switch (IconStyleOf(code)) {
    case IconStyle::Symbol:
      for (const IconStroke& stroke : SYMBOL_STROKES) StrokeColor(raster, stroke, keyColor);
      raster.opaque.fill(true);
      break;
    case IconStyle::Char:
      raster.color.fill(keyColor);
      raster.opaque.fill(true);
      break;
    case IconStyle::Bar: {
      const BarCode bar = DecodeBarCode(code);
      for (int x = 0; x <= 6; ++x) {
        const IconStroke stroke{{x, BAR_FOOT_ROW}, {x, BAR_FOOT_ROW - bar.readHeight}};
        StrokeColor(raster, stroke, READ_BAR_COLOR);
        StrokeMask(raster, stroke);
      }
      for (int x = 9; x <= 15; ++x) {
        const IconStroke stroke{{x, BAR_FOOT_ROW}, {x, BAR_FOOT_ROW - bar.writeHeight}};
        StrokeColor(raster, stroke, WRITE_BAR_COLOR);
        StrokeMask(raster, stroke);
      }
      StrokeColor(raster, BAR_BASE_LINE, keyColor);
      StrokeMask(raster, BAR_BASE_LINE);
      break;
    }
  }
  return raster;
}

IconPixelSet LabelGlyphPixels(const std::string& text, IconRect rect) {
  IconPixelSet pixels{};
  const int freeWidth = (rect.right - rect.left) - LabelTextWidth(text);
  // Floor division, so that a text wider than the rectangle overhangs both sides alike.
  int left = rect.left + (freeWidth >= 0 ? freeWidth / 2 : -((1 - freeWidth) / 2));
  for (const char character : text) {
    const LabelGlyph glyph = LabelGlyphOf(character);
    for (int row = 0; row < LABEL_CELL_HEIGHT; ++row) {
      for (int column = 0; column < glyph.width; ++column) {
        const int x = left + column;
        const int y = rect.top + row;
        const bool inRect = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
        if (glyph.Ink(column, row) && inRect && InRaster(x, y)) pixels[PixelIndex(x, y)] = true;
      }
    }
    left += glyph.width + LABEL_GLYPH_GAP;
  }
  return pixels;
}

IconRaster PaintIconRaster(const char* topLabel, const char* bottomLabel, IconCode code) {
  IconRaster raster = PaintIconShapes(code);
  if (IconStyleOf(code) == IconStyle::Symbol) return raster;
  const IconTexts texts = IconTextsOf(topLabel, bottomLabel, code);
  const Rgb color = LabelColor(code);
  const bool glyphsOnMask = IconStyleOf(code) == IconStyle::Bar;
  for (const auto& [text, rect] :
       {std::make_pair(&texts.top, TOP_LABEL_RECT), std::make_pair(&texts.bottom, BOTTOM_LABEL_RECT)}) {
    const IconPixelSet glyphs = LabelGlyphPixels(*text, rect);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
      if (!glyphs[i]) continue;
      raster.color[i] = color;
      if (glyphsOnMask) raster.opaque[i] = true;
    }
  }
  return raster;
}

IconPixelSet LabelGlyphArea(const char* topLabel, const char* bottomLabel, IconCode code) {
  IconPixelSet area{};
  const IconTexts texts = IconTextsOf(topLabel, bottomLabel, code);
  if (!texts.top.empty()) AddRect(area, TOP_LABEL_RECT);
  if (!texts.bottom.empty()) AddRect(area, BOTTOM_LABEL_RECT);
  return area;
}
