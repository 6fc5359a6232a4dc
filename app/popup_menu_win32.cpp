#include "app/popup_menu_win32.h"

#include "common/win32_handles.h"

CPopupMenu::~CPopupMenu() {
  if (owned) DestroyMenu(menu);
  menu = nullptr;
}

CPopupMenu& CPopupMenu::Load(UINT id, HINSTANCE module) {
  if (owned) DestroyMenu(menu);  // a second Load must not leak the first menu
  if (module == OwnModule()) module = GetModuleHandleA(nullptr);
  owned = TRUE;
  menu = LoadMenuA(module, MAKEINTRESOURCEA(id));
  return *this;
}

BOOL CPopupMenu::Track(HWND owner, const POINT* position, UINT flags) {
  POINT at{};
  if (position != nullptr) {
    at = *position;
  } else {
    GetCursorPos(&at);
  }

  // A menu resource's items stand at its top level; hung under a wrapper as
  // a popup item, they become a popup that TrackPopupMenu can show. The
  // wrapper's own text is never displayed.
  unique_hmenu wrapper{CreateMenu()};
  AppendMenuA(wrapper.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(menu), "BLUB");
  HMENU popup = GetSubMenu(wrapper.get(), 0);

  if (owner != nullptr) SetForegroundWindow(owner);
  const UINT trackFlags = ((flags & 1u) ? TPM_RETURNCMD : 0u) | ((flags & 8u) ? TPM_RIGHTALIGN : 0u);
  RECT unused{0, 0, 10, 10};
  const BOOL result = TrackPopupMenu(popup, trackFlags, at.x, at.y, 0, owner, &unused);
  // Lets the menu close properly when the user clicks elsewhere.
  if (owner != nullptr) PostMessageA(owner, WM_NULL, 0, 0);

  // Detach the loaded menu so that destroying the wrapper leaves it alive.
  if (popup != nullptr) RemoveMenu(wrapper.get(), 0, MF_BYPOSITION);
  return result;
}
