// One painted notification-area icon, 16x16 unless asked for another size:
// the constructor paints it with GDI from an IconCode and two labels, in the
// geometry of the pixel model for that size; the object owns the icon and
// the two bitmaps it was made from until it is destroyed.
#pragma once

#include <windows.h>

#include <vector>

#include "common/gleamo_types.h"
#include "common/win32_handles.h"
#include "tray/icon_raster.h"

class CActivityIcon {
 public:
  // Labels are cut to 4 (top) and 3 (bottom) characters; the size is
  // clamped as the model clamps it. Reports nothing: a failed platform call
  // leaves its pixels unpainted.
  CActivityIcon(const char* topLabel, const char* bottomLabel, IconCode iconCode, int size = ICON_SIZE);
  // Destroys the icon, then the colour bitmap, then the mask bitmap.
  ~CActivityIcon();

  // The finished icon (null if the platform refused it); this object keeps it.
  HICON GetIcon() const;

  CActivityIcon(const CActivityIcon&) = delete;
  CActivityIcon& operator=(const CActivityIcon&) = delete;

 private:
  // The raster font request for the labels, cells of the given height; the
  // caller deletes the font.
  static HFONT CreateLabelFont(int cellHeight);

  // Where the painter takes each label font from: CreateLabelFont, except in
  // tests that make a font selection fail.
  static HFONT (*labelFontSource)(int cellHeight);
  friend struct CActivityIconTestAccess;

  void PaintSymbol(IconCode iconCode, const IconLayout& layout);
  void PaintChar(IconCode iconCode, const IconLayout& layout, char* topLabel, char* bottomLabel);
  void PaintBar(IconCode iconCode, const IconLayout& layout, char* topLabel);
  // Gives the colour image an alpha channel that says what the mask says:
  // opaque where the mask is black, see-through where it is white.
  void AddAlphaFromMask(HDC screenDc, int size);
  // Strokes in a new one-pixel solid pen that lives for this group only.
  void StrokeGroup(HDC dc, COLORREF color, const std::vector<IconStroke>& strokes);

  // While painting: both memory DCs, the selections they held before, and the
  // working brush, pen and region. Afterwards only the two bitmaps and the
  // icon are alive.
  unique_hdc colorDc;
  unique_hdc maskDc;
  ScopedSelection prevColorBitmap;
  ScopedSelection prevMaskBitmap;
  unique_hbitmap colorBitmap;
  unique_hbitmap maskBitmap;
  ScopedSelection prevMaskBrush;
  unique_hbrush workBrush;
  unique_hpen workPen;
  unique_hrgn workRegion;
  unique_hicon iconHandle;
};
