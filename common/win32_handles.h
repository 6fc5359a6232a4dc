// Owners for the Windows handles and COM values gleamo uses.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/unique_handle.h"

using unique_bstr = unique_handle<BSTR, call_release<&SysFreeString>>;
using unique_hicon = unique_handle<HICON, call_release<&DestroyIcon>>;
using unique_hbitmap = unique_handle<HBITMAP, call_release<&DeleteObject>>;
using unique_hdc = unique_handle<HDC, call_release<&DeleteDC>>;
using unique_hmenu = unique_handle<HMENU, call_release<&DestroyMenu>>;
using unique_hwnd = unique_handle<HWND, call_release<&DestroyWindow>>;
using unique_kernel_handle = unique_handle<HANDLE, call_release<&CloseHandle>>;

// A VARIANT that is cleared at the end of its scope.
struct ScopedVariant {
  VARIANT value;
  ScopedVariant() noexcept { VariantInit(&value); }
  ~ScopedVariant() { VariantClear(&value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};
