// Reads a finished icon back.
#pragma once

#include <windows.h>

// The colour of one pixel of an icon's colour image, as 0xRRGGBB.
inline DWORD IconPixel(HICON icon, int x, int y) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return 0xFFFFFFFF;
  BITMAPINFO format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  DWORD pixels[256] = {};
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, info.hbmColor, 0, 16, pixels, &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels[y * 16 + x] & 0xFFFFFF;
}

// Whether an icon handle still names a live icon.
inline bool IconAlive(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return true;
}
