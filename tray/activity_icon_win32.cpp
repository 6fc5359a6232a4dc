#include "tray/activity_icon_win32.h"

#include <array>

HFONT (*CActivityIcon::labelFontSource)() = &CActivityIcon::CreateLabelFont;

namespace {

constexpr COLORREF MASK_TRANSPARENT = RGB(255, 255, 255);
constexpr COLORREF MASK_OPAQUE = RGB(0, 0, 0);
constexpr RECT TOP_RECT{TOP_LABEL_RECT.left, TOP_LABEL_RECT.top, TOP_LABEL_RECT.right, TOP_LABEL_RECT.bottom};
constexpr RECT BOTTOM_RECT{BOTTOM_LABEL_RECT.left, BOTTOM_LABEL_RECT.top, BOTTOM_LABEL_RECT.right,
                           BOTTOM_LABEL_RECT.bottom};

COLORREF ToColorRef(Rgb color) {
  return RGB(color.red, color.green, color.blue);
}

// Bounded copy that always terminates; longer labels are cut without notice.
template <std::size_t Size>
void CopyLabel(char (&target)[Size], const char* source) {
  std::size_t length = 0;
  while (source != nullptr && length < Size - 1 && source[length] != '\0') {
    target[length] = source[length];
    ++length;
  }
  target[length] = '\0';
}

// One line, centred in the rectangle's width, from its top row, clipped to it.
void DrawLabel(HDC dc, char* text, RECT rect) {
  DrawTextExA(dc, text, lstrlenA(text), &rect, DT_CENTER, nullptr);
}

}  // namespace

CActivityIcon::CActivityIcon(const char* topLabel, const char* bottomLabel, IconCode iconCode) {
  char top[TOP_LABEL_MAX + 1];
  char bottom[BOTTOM_LABEL_MAX + 1];
  CopyLabel(top, topLabel);
  CopyLabel(bottom, bottomLabel);

  unique_screen_dc screenDc(GetDC(nullptr));
  colorDc.reset(CreateCompatibleDC(screenDc.get()));
  maskDc.reset(CreateCompatibleDC(screenDc.get()));
  // Screen-compatible bitmaps start black: the colour raster is never cleared.
  colorBitmap.reset(CreateCompatibleBitmap(screenDc.get(), ICON_SIZE, ICON_SIZE));
  maskBitmap.reset(CreateCompatibleBitmap(screenDc.get(), ICON_SIZE, ICON_SIZE));
  prevColorBitmap = ScopedSelection(colorDc.get(), colorBitmap.get());
  prevMaskBitmap = ScopedSelection(maskDc.get(), maskBitmap.get());

  // The whole mask transparent to begin with.
  workBrush.reset(CreateSolidBrush(MASK_TRANSPARENT));
  prevMaskBrush = ScopedSelection(maskDc.get(), workBrush.get());
  PatBlt(maskDc.get(), 0, 0, ICON_SIZE, ICON_SIZE, PATCOPY);
  prevMaskBrush.reset();
  workBrush.reset();

  switch (IconStyleOf(iconCode)) {
    case IconStyle::Symbol: PaintSymbol(iconCode); break;
    case IconStyle::Char: PaintChar(iconCode, top, bottom); break;
    case IconStyle::Bar: PaintBar(iconCode, top); break;
  }

  // CreateIconIndirect needs both bitmaps outside every DC.
  prevColorBitmap.reset();
  colorDc.reset();
  prevMaskBitmap.reset();
  maskDc.reset();
  screenDc.reset();

  ICONINFO info{};
  info.fIcon = TRUE;
  info.xHotspot = 0;
  info.yHotspot = 0;
  info.hbmMask = maskBitmap.get();
  info.hbmColor = colorBitmap.get();
  iconHandle.reset(CreateIconIndirect(&info));
}

CActivityIcon::~CActivityIcon() {
  iconHandle.reset();
  colorBitmap.reset();
  maskBitmap.reset();
}

HICON CActivityIcon::GetIcon() const {
  return iconHandle.get();
}

HFONT CActivityIcon::CreateLabelFont() {
  LOGFONTA font;
  ZeroMemory(&font, sizeof font);
  font.lfHeight = 8;  // positive: the cell height
  font.lfWidth = 0;
  font.lfEscapement = -900;
  font.lfOrientation = 3;
  font.lfWeight = FW_NORMAL;
  font.lfItalic = 0;
  font.lfUnderline = 0;
  font.lfStrikeOut = 0;
  font.lfCharSet = ANSI_CHARSET;
  font.lfOutPrecision = OUT_RASTER_PRECIS;
  font.lfClipPrecision = CLIP_MASK;
  font.lfQuality = PROOF_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  lstrcpynA(font.lfFaceName, "Small fonts", LF_FACESIZE);
  return CreateFontIndirectA(&font);
}

void CActivityIcon::StrokeGroup(HDC dc, COLORREF color, const IconStroke* strokes, int count) {
  workPen.reset(CreatePen(PS_SOLID, 1, color));
  {
    const ScopedSelection pen(dc, workPen.get());
    for (int i = 0; i < count; ++i) {
      MoveToEx(dc, strokes[i].start.x, strokes[i].start.y, nullptr);
      LineTo(dc, strokes[i].end.x, strokes[i].end.y);
    }
  }
  workPen.reset();
}

void CActivityIcon::PaintSymbol(IconCode iconCode) {
  StrokeGroup(colorDc.get(), ToColorRef(IconKeyColor(iconCode)), SYMBOL_STROKES.data(),
              static_cast<int>(SYMBOL_STROKES.size()));

  // An opaque square: the black around the symbol is shown too.
  workBrush.reset(CreateSolidBrush(MASK_OPAQUE));
  workRegion.reset(CreateRectRgn(0, 0, ICON_SIZE, ICON_SIZE));
  FillRgn(maskDc.get(), workRegion.get(), workBrush.get());
  workBrush.reset();
  workRegion.reset();
}

void CActivityIcon::PaintChar(IconCode iconCode, char* topLabel, char* bottomLabel) {
  workRegion.reset(CreateRectRgn(0, 0, ICON_SIZE, ICON_SIZE));

  workBrush.reset(CreateSolidBrush(ToColorRef(IconKeyColor(iconCode))));
  FillRgn(colorDc.get(), workRegion.get(), workBrush.get());
  workBrush.reset();

  workBrush.reset(CreateSolidBrush(MASK_OPAQUE));
  FillRgn(maskDc.get(), workRegion.get(), workBrush.get());
  workBrush.reset();

  {
    const unique_hfont font(labelFontSource());
    const ScopedSelection fontSelection(colorDc.get(), font.get());
    if (fontSelection) {
      SetBkMode(colorDc.get(), TRANSPARENT);
      SetTextColor(colorDc.get(), ToColorRef(CHAR_LABEL_COLOR));
      DrawLabel(colorDc.get(), topLabel, TOP_RECT);
      DrawLabel(colorDc.get(), bottomLabel, BOTTOM_RECT);
    }
  }  // the previous font is back before this one is deleted

  workRegion.reset();
}

void CActivityIcon::PaintBar(IconCode iconCode, char* topLabel) {
  const BarCode bar = DecodeBarCode(iconCode);
  const COLORREF labelColor = ToColorRef(KeyColor(bar.color, IconStyle::Bar));

  std::array<IconStroke, 14> bars{};
  for (int i = 0; i < 7; ++i) {
    bars[i] = IconStroke{{i, BAR_FOOT_ROW}, {i, BAR_FOOT_ROW - bar.readHeight}};
    bars[7 + i] = IconStroke{{9 + i, BAR_FOOT_ROW}, {9 + i, BAR_FOOT_ROW - bar.writeHeight}};
  }
  StrokeGroup(colorDc.get(), ToColorRef(READ_BAR_COLOR), bars.data(), 7);
  StrokeGroup(colorDc.get(), ToColorRef(WRITE_BAR_COLOR), bars.data() + 7, 7);
  StrokeGroup(maskDc.get(), MASK_OPAQUE, bars.data(), 14);

  char rw[] = "R W";
  {
    const unique_hfont font(labelFontSource());
    const ScopedSelection fontSelection(colorDc.get(), font.get());
    // Without the font neither raster gets the base line.
    if (fontSelection) {
      SetBkMode(colorDc.get(), TRANSPARENT);
      SetTextColor(colorDc.get(), labelColor);
      StrokeGroup(colorDc.get(), labelColor, &BAR_BASE_LINE, 1);
      StrokeGroup(maskDc.get(), MASK_OPAQUE, &BAR_BASE_LINE, 1);
      DrawLabel(colorDc.get(), topLabel, TOP_RECT);
      DrawLabel(colorDc.get(), rw, BOTTOM_RECT);
    }
  }

  // The same texts in black on the mask, so that the glyphs are opaque.
  {
    const unique_hfont font(labelFontSource());
    const ScopedSelection fontSelection(maskDc.get(), font.get());
    if (fontSelection) {
      SetBkMode(maskDc.get(), TRANSPARENT);
      SetTextColor(maskDc.get(), MASK_OPAQUE);
      DrawLabel(maskDc.get(), topLabel, TOP_RECT);
      DrawLabel(maskDc.get(), rw, BOTTOM_RECT);
    }
  }
}
