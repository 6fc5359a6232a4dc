// Shows a plain menu resource as a popup menu.
#pragma once

#include <windows.h>

class CPopupMenu {
 public:
  CPopupMenu() = default;
  ~CPopupMenu();
  CPopupMenu(const CPopupMenu&) = delete;
  CPopupMenu& operator=(const CPopupMenu&) = delete;

  // Loads menu resource `id`; the module value -1 stands for the program's own
  // executable. The object owns the menu from then on.
  CPopupMenu& Load(UINT id, HINSTANCE module);

  // Shows the menu at `position`, or at the cursor when it is null. Flag bit 0
  // asks for the chosen command as the result (TPM_RETURNCMD), bit 3 aligns
  // the menu's right edge with the position; other bits are dropped. Without
  // bit 0 the chosen item reaches the owner as WM_COMMAND.
  BOOL Track(HWND owner, const POINT* position, UINT flags);

 private:
  BOOL owned = FALSE;
  HMENU menu = nullptr;
};

// The module value that names the program's own executable.
inline HINSTANCE OwnModule() { return reinterpret_cast<HINSTANCE>(static_cast<LONG_PTR>(-1)); }
