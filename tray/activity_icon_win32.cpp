#include "tray/activity_icon_win32.h"

#include <cstdint>

#include "tray/label_face.h"

HFONT (*CActivityIcon::labelFontSource)(int) = &CActivityIcon::CreateLabelFont;

namespace {

constexpr COLORREF MASK_TRANSPARENT = RGB(255, 255, 255);
constexpr COLORREF MASK_OPAQUE = RGB(0, 0, 0);
RECT ToRect(IconRect rect) {
  return RECT{rect.left, rect.top, rect.right, rect.bottom};
}

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

CActivityIcon::CActivityIcon(const char* topLabel, const char* bottomLabel, IconCode iconCode, int size) {
  const IconLayout layout = LayoutFor(size);
  char top[TOP_LABEL_MAX + 1];
  char bottom[BOTTOM_LABEL_MAX + 1];
  CopyLabel(top, topLabel);
  CopyLabel(bottom, bottomLabel);

  unique_screen_dc screenDc(GetDC(nullptr));
  colorDc.reset(CreateCompatibleDC(screenDc.get()));
  maskDc.reset(CreateCompatibleDC(screenDc.get()));
  // Screen-compatible bitmaps start black: the colour raster is never cleared.
  colorBitmap.reset(CreateCompatibleBitmap(screenDc.get(), layout.size, layout.size));
  maskBitmap.reset(CreateCompatibleBitmap(screenDc.get(), layout.size, layout.size));
  prevColorBitmap = ScopedSelection(colorDc.get(), colorBitmap.get());
  prevMaskBitmap = ScopedSelection(maskDc.get(), maskBitmap.get());

  // The whole mask transparent to begin with.
  workBrush.reset(CreateSolidBrush(MASK_TRANSPARENT));
  prevMaskBrush = ScopedSelection(maskDc.get(), workBrush.get());
  PatBlt(maskDc.get(), 0, 0, layout.size, layout.size, PATCOPY);
  prevMaskBrush.reset();
  workBrush.reset();

  switch (IconStyleOf(iconCode)) {
    case IconStyle::Symbol: PaintSymbol(iconCode, layout); break;
    case IconStyle::Char: PaintChar(iconCode, layout, top, bottom); break;
    case IconStyle::Bar: PaintBar(iconCode, layout, top); break;
  }

  // CreateIconIndirect needs both bitmaps outside every DC.
  prevColorBitmap.reset();
  colorDc.reset();
  prevMaskBitmap.reset();
  maskDc.reset();
  if (layout.size % ICON_SIZE != 0) AddAlphaFromMask(screenDc.get(), layout.size);
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

void CActivityIcon::AddAlphaFromMask(HDC screenDc, int size) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> color(static_cast<std::size_t>(size) * size);
  std::vector<std::uint32_t> mask(color.size());
  if (GetDIBits(screenDc, colorBitmap.get(), 0, size, color.data(), &info, DIB_RGB_COLORS) != size ||
      GetDIBits(screenDc, maskBitmap.get(), 0, size, mask.data(), &info, DIB_RGB_COLORS) != size) {
    return;
  }
  for (std::size_t i = 0; i < color.size(); ++i) {
    const bool opaque = (mask[i] & 0x00FFFFFF) == 0;
    color[i] = (color[i] & 0x00FFFFFF) | (opaque ? 0xFF000000 : 0);
  }
  SetDIBits(screenDc, colorBitmap.get(), 0, size, color.data(), &info, DIB_RGB_COLORS);
}

HICON CActivityIcon::GetIcon() const {
  return iconHandle.get();
}

HFONT CActivityIcon::CreateLabelFont(int cellHeight) {
  LOGFONTA font;
  ZeroMemory(&font, sizeof font);
  font.lfHeight = cellHeight;  // positive: the cell height
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

void CActivityIcon::StrokeGroup(HDC dc, COLORREF color, const std::vector<IconStroke>& strokes) {
  workPen.reset(CreatePen(PS_SOLID, 1, color));
  {
    const ScopedSelection pen(dc, workPen.get());
    for (const IconStroke& stroke : strokes) {
      MoveToEx(dc, stroke.start.x, stroke.start.y, nullptr);
      LineTo(dc, stroke.end.x, stroke.end.y);
    }
  }
  workPen.reset();
}

void CActivityIcon::PaintSymbol(IconCode iconCode, const IconLayout& layout) {
  StrokeGroup(colorDc.get(), ToColorRef(IconKeyColor(iconCode)), SymbolStrokes(layout));

  // An opaque square: the black around the symbol is shown too.
  workBrush.reset(CreateSolidBrush(MASK_OPAQUE));
  workRegion.reset(CreateRectRgn(0, 0, layout.size, layout.size));
  FillRgn(maskDc.get(), workRegion.get(), workBrush.get());
  workBrush.reset();
  workRegion.reset();
}

void CActivityIcon::PaintChar(IconCode iconCode, const IconLayout& layout, char* topLabel, char* bottomLabel) {
  workRegion.reset(CreateRectRgn(0, 0, layout.size, layout.size));

  workBrush.reset(CreateSolidBrush(ToColorRef(IconKeyColor(iconCode))));
  FillRgn(colorDc.get(), workRegion.get(), workBrush.get());
  workBrush.reset();

  workBrush.reset(CreateSolidBrush(MASK_OPAQUE));
  FillRgn(maskDc.get(), workRegion.get(), workBrush.get());
  workBrush.reset();

  {
    const unique_hfont font(labelFontSource(LABEL_CELL_HEIGHT * layout.labelScale));
    const ScopedSelection fontSelection(colorDc.get(), font.get());
    if (fontSelection) {
      SetBkMode(colorDc.get(), TRANSPARENT);
      SetTextColor(colorDc.get(), ToColorRef(CHAR_LABEL_COLOR));
      DrawLabel(colorDc.get(), topLabel, ToRect(layout.topLabel));
      DrawLabel(colorDc.get(), bottomLabel, ToRect(layout.bottomLabel));
    }
  }  // the previous font is back before this one is deleted

  workRegion.reset();
}

void CActivityIcon::PaintBar(IconCode iconCode, const IconLayout& layout, char* topLabel) {
  const BarCode bar = DecodeBarCode(iconCode);
  const COLORREF labelColor = ToColorRef(KeyColor(bar.color, IconStyle::Bar));

  const std::vector<IconStroke> read = BarStrokes(layout, BarGroup::Read, bar.readHeight);
  const std::vector<IconStroke> write = BarStrokes(layout, BarGroup::Write, bar.writeHeight);
  std::vector<IconStroke> both = read;
  both.insert(both.end(), write.begin(), write.end());
  StrokeGroup(colorDc.get(), ToColorRef(READ_BAR_COLOR), read);
  StrokeGroup(colorDc.get(), ToColorRef(WRITE_BAR_COLOR), write);
  StrokeGroup(maskDc.get(), MASK_OPAQUE, both);

  const std::vector<IconStroke> baseLine = BaseLineStrokes(layout);
  const int cellHeight = LABEL_CELL_HEIGHT * layout.labelScale;
  char rw[] = "R W";
  {
    const unique_hfont font(labelFontSource(cellHeight));
    const ScopedSelection fontSelection(colorDc.get(), font.get());
    // Without the font neither raster gets the base line.
    if (fontSelection) {
      SetBkMode(colorDc.get(), TRANSPARENT);
      SetTextColor(colorDc.get(), labelColor);
      StrokeGroup(colorDc.get(), labelColor, baseLine);
      StrokeGroup(maskDc.get(), MASK_OPAQUE, baseLine);
      DrawLabel(colorDc.get(), topLabel, ToRect(layout.topLabel));
      DrawLabel(colorDc.get(), rw, ToRect(layout.bottomLabel));
    }
  }

  // The same texts in black on the mask, so that the glyphs are opaque.
  {
    const unique_hfont font(labelFontSource(cellHeight));
    const ScopedSelection fontSelection(maskDc.get(), font.get());
    if (fontSelection) {
      SetBkMode(maskDc.get(), TRANSPARENT);
      SetTextColor(maskDc.get(), MASK_OPAQUE);
      DrawLabel(maskDc.get(), topLabel, ToRect(layout.topLabel));
      DrawLabel(maskDc.get(), rw, ToRect(layout.bottomLabel));
    }
  }
}
