#include "activity/wmi_connection_win32.h"

#include <wrl/client.h>

#include <cstdio>
#include <cwchar>

#include "activity/bounded_string_copy.h"
#include "activity/disk_counters_win32.h"
#include "common/win32_handles.h"

using Microsoft::WRL::ComPtr;

IWbemServices* WmiServices = nullptr;
ActivitySample LastConnectResult = 0;

const WmiConnectCalls REAL_WMI_CONNECT_CALLS{&CoInitializeSecurity, &CoCreateInstance, &GetComputerNameA,
                                             &SysAllocString};
WmiConnectCalls wmiConnectCalls = REAL_WMI_CONNECT_CALLS;

namespace {

// Two backslashes, a NetBIOS computer name of at most 15 characters, NUL.
constexpr std::size_t MACHINE_NAME_CAPACITY = 18;
constexpr DWORD COMPUTER_NAME_CAPACITY = 16;
constexpr DWORD DOT_INTERVAL_MS = 300;

// How many CoInitialize calls of ConnectAndPoll still wait for their
// CoUninitialize (one, after a run that kept COM; a repeated run adds one).
int comHeldByConnect = 0;

void ReportComFailure() {
  std::printf("COM stuff is hosed!\r\n");
}

}  // namespace

int InitComSecurity() {
  const HRESULT result =
      wmiConnectCalls.coInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
  return result >= 0 ? 1 : 0;
}

DWORD WINAPI ConnectProgressThread(LPVOID event) {
  while (WaitForSingleObject(static_cast<HANDLE>(event), DOT_INTERVAL_MS) == WAIT_TIMEOUT) {
    std::printf(".");
    std::fflush(stdout);  // a dot is worth seeing while the connection is still pending
  }
  std::printf("\n");
  return 0;
}

ActivitySample ConnectAndPoll() {
  if (CoInitialize(nullptr) < 0) {
    ReportComFailure();
    return 0;
  }
  ++comHeldByConnect;
  if (!InitComSecurity()) {
    ReportComFailure();
    return 0;
  }

  ComPtr<IWbemLocator> locator;
  if (wmiConnectCalls.coCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                       reinterpret_cast<void**>(locator.GetAddressOf())) != 0) {
    std::printf("WMI services not present or unavailable!\n");
    return LastConnectResult;
  }

  // Gives up the locator and the COM initialisation on the paths that end
  // before the connection is tried.
  const auto abandon = [&locator](const char* message) {
    std::printf("%s", message);
    locator.Reset();
    CoUninitialize();
    --comHeldByConnect;
    return ActivitySample{0};
  };

  // Only the messages name the machine; the connection is always local.
  char MachineName[MACHINE_NAME_CAPACITY];
  BoundedStringCopy(MachineName, MACHINE_NAME_CAPACITY, "\\\\");
  DWORD nameCapacity = COMPUTER_NAME_CAPACITY;
  if (!wmiConnectCalls.getComputerNameA(MachineName + 2, &nameCapacity)) {
    return abandon("Could not get local machine name.\n");
  }

  unique_bstr namespacePath{wmiConnectCalls.sysAllocString(L"root\\WMI")};
  if (!namespacePath) return abandon("Out of memory\n");

  std::printf("Connecting to %s WMI server at ", MachineName);
  std::wprintf(L"%ls...", namespacePath.get());

  // Without an event or a thread the connection still goes ahead; only the
  // dots are missing.
  unique_kernel_handle connected{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  DWORD threadId = 0;
  unique_kernel_handle progress{CreateThread(nullptr, 0, ConnectProgressThread, connected.get(), 0, &threadId)};

  // The services go to WmiServices only on success, so that a failing result
  // never leaves a pointer (or a reference) behind.
  ComPtr<IWbemServices> services;
  const HRESULT result =
      locator->ConnectServer(namespacePath.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);

  SetEvent(connected.get());
  WaitForSingleObject(progress.get(), INFINITE);
  connected.reset();
  progress.reset();
  namespacePath.reset();

  if (result != 0) {
    std::printf("\nFailed to connect with %s, Error: 0x%8lX\n", MachineName, static_cast<unsigned long>(result));
    return LastConnectResult;
  }
  std::printf("\nConnected with %s\n", MachineName);
  locator.Reset();
  ReleaseWmiServices();
  WmiServices = services.Detach();
  LastConnectResult = PollDiskCounters(WmiServices);
  return LastConnectResult;
}

void ReleaseWmiServices() {
  if (WmiServices != nullptr) {
    WmiServices->Release();
    WmiServices = nullptr;
  }
}

void ShutdownWmiConnection() {
  ReleaseWmiServices();
  for (; comHeldByConnect > 0; --comHeldByConnect) CoUninitialize();
}
