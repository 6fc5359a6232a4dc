// A 16x16 icon of one colour, for tests that look for their icon on screen or
// tell icons apart.
#pragma once

#include <windows.h>

#include "common/win32_handles.h"

inline unique_hicon MakeSolidIcon(BYTE red, BYTE green, BYTE blue) {
  constexpr int SIDE = 16;
  BYTE mask[SIDE * SIDE / 8] = {};  // all zero: every pixel shows its colour
  DWORD colour[SIDE * SIDE];
  for (DWORD& pixel : colour) pixel = 0xFF000000u | (DWORD{red} << 16) | (DWORD{green} << 8) | blue;
  return unique_hicon(
      CreateIcon(GetModuleHandleA(nullptr), SIDE, SIDE, 1, 32, mask, reinterpret_cast<const BYTE*>(colour)));
}
