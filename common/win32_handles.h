// Owners for the Windows handles and COM values gleamo uses.
#pragma once

#include <oleauto.h>
#include <windows.h>

#include <utility>

#include "common/unique_handle.h"

using unique_bstr = unique_handle<BSTR, call_release<&SysFreeString>>;
using unique_hicon = unique_handle<HICON, call_release<&DestroyIcon>>;
using unique_hbitmap = unique_handle<HBITMAP, call_release<&DeleteObject>>;
using unique_hdc = unique_handle<HDC, call_release<&DeleteDC>>;
using unique_hmenu = unique_handle<HMENU, call_release<&DestroyMenu>>;
using unique_hwnd = unique_handle<HWND, call_release<&DestroyWindow>>;
using unique_kernel_handle = unique_handle<HANDLE, call_release<&CloseHandle>>;
using unique_hbrush = unique_handle<HBRUSH, call_release<&DeleteObject>>;
using unique_hpen = unique_handle<HPEN, call_release<&DeleteObject>>;
using unique_hrgn = unique_handle<HRGN, call_release<&DeleteObject>>;
using unique_hfont = unique_handle<HFONT, call_release<&DeleteObject>>;

// A DC from GetDC, given back with ReleaseDC for its window (none: the screen).
struct ReleaseScreenDc {
  void operator()(HDC dc) const noexcept { ReleaseDC(nullptr, dc); }
};
using unique_screen_dc = unique_handle<HDC, ReleaseScreenDc>;

// Selects a GDI object into a DC and keeps what the DC held before, to select
// it back on reset or at the end of the scope. Empty (false) when the
// selection failed; then there is nothing to select back.
class ScopedSelection {
 public:
  ScopedSelection() noexcept = default;
  ScopedSelection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {
    if (previous_ == HGDI_ERROR) previous_ = nullptr;
  }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;
  ScopedSelection(ScopedSelection&& other) noexcept
      : dc_(other.dc_), previous_(std::exchange(other.previous_, nullptr)) {}
  ScopedSelection& operator=(ScopedSelection&& other) noexcept {
    if (this != &other) {
      reset();
      dc_ = other.dc_;
      previous_ = std::exchange(other.previous_, nullptr);
    }
    return *this;
  }
  ~ScopedSelection() { reset(); }

  explicit operator bool() const noexcept { return previous_ != nullptr; }
  HGDIOBJ previous() const noexcept { return previous_; }

  void reset() noexcept {
    if (previous_ != nullptr) SelectObject(dc_, std::exchange(previous_, nullptr));
  }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

// A VARIANT that is cleared at the end of its scope.
struct ScopedVariant {
  VARIANT value;
  ScopedVariant() noexcept { VariantInit(&value); }
  ~ScopedVariant() { VariantClear(&value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};
