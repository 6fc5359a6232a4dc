// The connection to the local machine's root\WMI namespace: made on the
// first tick, and made again when WMI has gone away and come back.
#pragma once

#include <wbemidl.h>
#include <windows.h>

#include "common/gleamo_types.h"

// The services of root\WMI, null until a connection succeeds; it then holds
// one reference, given up by ReleaseWmiServices.
extern IWbemServices* WmiServices;

// The first poll's sample after a successful connection; 0 until then.
extern ActivitySample LastConnectResult;

// Initialises COM for the calling thread, sets the process's COM security,
// connects to root\WMI while a progress thread prints a dot every 300 ms,
// keeps the services in WmiServices and returns the first poll's sample.
// Every failure prints one message and returns 0 or LastConnectResult, and
// leaves WmiServices null. Called on the user-interface thread: on the first
// tick, and again by SampleWmiCounters; COM is initialised and its security
// set once, by the first call that gets that far.
ActivitySample ConnectAndPoll();

// The tick's sample through WMI. The first tick connects; every later tick
// polls through WmiServices. A connection that fails, or polls that fail
// for WMI_GONE_AFTER_MS in a row (a WMI service that stopped or restarted
// leaves the services dead), give up the services, and a later tick
// connects again, after a pause that starts at FIRST_RECONNECT_PAUSE_MS and
// doubles with every failure up to LAST_RECONNECT_PAUSE_MS; a poll that
// completes ends the failures. A single failed poll shows as the platform
// has it (the last sample, the bar heights kept); once the failures have
// lasted WMI_GONE_AFTER_MS, the sample measures nothing and says
// WMI_UNAVAILABLE, and the first poll through a new connection measures
// nothing either, since its totals cannot be compared with those from
// before the gap.
CounterSample SampleWmiCounters(bool firstTick);

constexpr DWORD WMI_GONE_AFTER_MS = 1000;
constexpr DWORD FIRST_RECONNECT_PAUSE_MS = 1000;
constexpr DWORD LAST_RECONNECT_PAUSE_MS = 60000;
constexpr char WMI_UNAVAILABLE[] = "no disk counters: WMI unavailable";

// Sets the process-wide COM security: packet privacy, impersonation, secure
// references. Returns 1 when the platform accepted it, else 0.
int InitComSecurity();

// Prints "." for every full 300 ms until the event (its argument) is
// signalled or cannot be waited on, then "\n". Its exit code is 0.
DWORD WINAPI ConnectProgressThread(LPVOID event);

// Releases WmiServices if it is held and sets it to null.
void ReleaseWmiServices();

// The teardown of the connection, on the thread that ran ConnectAndPoll:
// releases WmiServices, then balances COM, and forgets the failures, so
// that a later first tick starts afresh. ConnectAndPoll leaves COM
// initialised on some paths only (not after a failed CoInitialize, nor after
// the paths that uninitialise it again), so CoUninitialize is called here
// exactly for the CoInitialize of ConnectAndPoll that is still outstanding,
// and never twice. A caller that uses this must not call CoUninitialize for
// it again; one that wants to uninitialise COM itself calls ReleaseWmiServices
// instead.
void ShutdownWmiConnection();

// The platform calls of ConnectAndPoll that a test cannot make fail on
// demand. They default to the real calls; only tests replace them.
struct WmiConnectCalls {
  decltype(&CoInitializeSecurity) coInitializeSecurity;
  decltype(&CoCreateInstance) coCreateInstance;
  decltype(&GetComputerNameA) getComputerNameA;
  decltype(&SysAllocString) sysAllocString;
};
extern const WmiConnectCalls REAL_WMI_CONNECT_CALLS;
extern WmiConnectCalls wmiConnectCalls;
