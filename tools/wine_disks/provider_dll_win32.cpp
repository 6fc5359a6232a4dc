// The DLL's entry points: a class factory for CLSID_WbemLocator, so that a
// Wine prefix whose registry names this DLL as the locator's in-process
// server hands our locator to every CoCreateInstance of it.
#include <windows.h>

#include <olectl.h>
#include <wbemidl.h>

#include <string>

#include "common/unique_handle.h"
#include "tools/wine_disks/wmi_objects_win32.h"

namespace {

std::atomic<long> serverLocks{0};

constexpr wchar_t LOCATOR_SERVER_KEY[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
constexpr wchar_t WINE_LOCATOR_SERVER[] = L"C:\\windows\\system32\\wbem\\wbemprox.dll";

class CLocatorFactory : public CProviderObject<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return HandOut(new CDiskLocator, iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++serverLocks;
    } else {
      --serverLocks;
    }
    return S_OK;
  }
};

// Names this DLL, or Wine's own, as the locator's server, for every
// apartment (the objects lock what they share).
HRESULT RegisterLocatorServer(const std::wstring& server) {
  unique_handle<HKEY, call_release<&RegCloseKey>> key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, LOCATOR_SERVER_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    return SELFREG_E_CLASS;
  }
  constexpr wchar_t THREADING[] = L"Both";
  const bool written = RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                                      static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
                       RegSetValueExW(key.get(), L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(THREADING),
                                      sizeof THREADING) == ERROR_SUCCESS;
  return written ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_WbemLocator) return CLASS_E_CLASSNOTAVAILABLE;
  return HandOut(new CLocatorFactory, iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return liveProviderObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&DllRegisterServer), &self)) {
    return SELFREG_E_CLASS;
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return SELFREG_E_CLASS;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return RegisterLocatorServer(path);
}

// Gives the locator back to Wine's own WMI.
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return RegisterLocatorServer(WINE_LOCATOR_SERVER);
}
