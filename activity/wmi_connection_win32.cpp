#include "activity/wmi_connection_win32.h"

#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "activity/bounded_string_copy.h"
#include "activity/counter_scale.h"
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
// CoUninitialize: one while COM is kept, none before or after.
int comHeldByConnect = 0;
// The process's COM security was set for the COM that ConnectAndPoll keeps.
// The platform takes it once per process: a second call is refused.
bool comSecuritySet = false;

// The failures of the WMI counters, between SampleWmiCounters calls.
struct WmiFailures {
  bool failing = false;    // the last connection or poll did not complete
  DWORD failingSince = 0;  // GetTickCount when the tick that began them began
  DWORD pauseFrom = 0;     // while WmiServices is null: a connection waits
  DWORD pauseMs = 0;       //   this long from pauseFrom
  DWORD nextPauseMs = FIRST_RECONNECT_PAUSE_MS;
};
WmiFailures wmiFailures;

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
  if (comHeldByConnect == 0) {
    if (CoInitialize(nullptr) < 0) {
      ReportComFailure();
      return 0;
    }
    ++comHeldByConnect;
  }
  if (!comSecuritySet) {
    if (!InitComSecurity()) {
      ReportComFailure();
      return 0;
    }
    comSecuritySet = true;
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
    comSecuritySet = false;  // it went with COM
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

CounterSample SampleWmiCounters(bool firstTick) {
  WmiFailures& failures = wmiFailures;
  const DWORD start = GetTickCount();
  const bool connect = firstTick || (WmiServices == nullptr && start - failures.pauseFrom >= failures.pauseMs);
  // After a gap, the first poll that completes only records its totals.
  const bool baseline = counterScale.freshBaseline;
  const ActivitySample total = connect ? ConnectAndPoll() : PollDiskCounters(WmiServices);
  const bool completed = WmiServices != nullptr && lastPollCompleted;
  if (completed) {
    failures = WmiFailures{};
    return CounterSample{total, !baseline, nullptr};
  }

  const DWORD end = GetTickCount();
  if (!failures.failing) {
    failures.failing = true;
    failures.failingSince = start;
  }
  const bool gone = end - failures.failingSince >= WMI_GONE_AFTER_MS;
  // A refused connection, or services that have failed for long enough: the
  // next connection waits, longer after every failure.
  if ((connect && WmiServices == nullptr) || (gone && WmiServices != nullptr)) {
    ReleaseWmiServices();
    counterScale.freshBaseline = true;
    failures.pauseFrom = end;
    failures.pauseMs = failures.nextPauseMs;
    failures.nextPauseMs = std::min(2 * failures.nextPauseMs, LAST_RECONNECT_PAUSE_MS);
  }
  if (!gone) return CounterSample{total, true, nullptr};  // a single failed poll shows as it is
  return CounterSample{total, false, WMI_UNAVAILABLE};
}

void ShutdownWmiConnection() {
  ReleaseWmiServices();
  for (; comHeldByConnect > 0; --comHeldByConnect) CoUninitialize();
  comSecuritySet = false;
  wmiFailures = WmiFailures{};
}
