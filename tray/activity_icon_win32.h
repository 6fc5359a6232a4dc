// One painted 16x16 notification-area icon: the constructor paints it with
// GDI from an IconCode and two labels; the object owns the icon and the two
// bitmaps it was made from until it is destroyed.
#pragma once

#include <windows.h>

#include "common/gleamo_types.h"
#include "common/win32_handles.h"
#include "tray/icon_raster.h"

class CActivityIcon {
 public:
  // Labels are cut to 4 (top) and 3 (bottom) characters. Reports nothing:
  // a failed platform call leaves its pixels unpainted.
  CActivityIcon(const char* topLabel, const char* bottomLabel, IconCode iconCode);
  // Destroys the icon, then the colour bitmap, then the mask bitmap.
  ~CActivityIcon();

  // The finished icon (null if the platform refused it); this object keeps it.
  HICON GetIcon() const;

  CActivityIcon(const CActivityIcon&) = delete;
  CActivityIcon& operator=(const CActivityIcon&) = delete;

 private:
  // The raster font request for the labels; the caller deletes the font.
  static HFONT CreateLabelFont();

  // Where the painter takes each label font from: CreateLabelFont, except in
  // tests that make a font selection fail.
  static HFONT (*labelFontSource)();
  friend struct CActivityIconTestAccess;

  void PaintSymbol(IconCode iconCode);
  void PaintChar(IconCode iconCode, char* topLabel, char* bottomLabel);
  void PaintBar(IconCode iconCode, char* topLabel);
  // Strokes in a new one-pixel solid pen that lives for this group only.
  void StrokeGroup(HDC dc, COLORREF color, const IconStroke* strokes, int count);

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
