#include "activity/wmi_connection_win32.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <string>
#include <thread>
#include <vector>

#include "activity/counter_scale.h"
#include "activity/disk_counters_win32.h"
#include "tests/activity/wmi_fakes_win32.h"

namespace {

// A first-poll result no path may return unless it returns LastConnectResult.
constexpr ActivitySample EARLIER_RESULT = 42;

// Whether the calling thread holds COM (in any apartment). Leaves the
// thread's COM state as it found it.
bool ComInitializedHere() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (result >= 0) CoUninitialize();
  return result == S_FALSE || result == RPC_E_CHANGED_MODE;
}

int ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// The handles this process holds, from the system's handle table (Wine's
// GetProcessHandleCount reports 0).
int HandlesOfThisProcess() {
  struct HandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
  };
  using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  constexpr ULONG SYSTEM_HANDLE_INFORMATION = 16;
  const auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<char> buffer(1 << 20);
  for (ULONG needed = 0;
       query(SYSTEM_HANDLE_INFORMATION, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0;) {
    if (buffer.size() >= (64u << 20)) return -1;
    buffer.resize(buffer.size() * 2);
  }
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  int count = 0;
  for (ULONG i = 0; i < table->count; ++i) {
    if (table->entries[i].ownerProcessId == GetCurrentProcessId()) ++count;
  }
  return count;
}

// What the replaceable platform calls saw and answer.
struct SeamLog {
  int securityCalls = 0;
  HRESULT securityResult = S_OK;
  bool securityArgumentsAsExpected = true;

  int createCalls = 0;
  HRESULT createResult = S_OK;
  IWbemLocator* locator = nullptr;
  bool createArgumentsAsExpected = true;

  int nameCalls = 0;
  const char* computerName = nullptr;  // null: the call fails
  bool nameBufferAsExpected = true;

  int allocationCalls = 0;
  std::wstring allocated;

  int handlesDuringConnect = 0;
  int threadsDuringConnect = 0;
};
SeamLog seams;

HRESULT WINAPI RecordSecurity(PSECURITY_DESCRIPTOR descriptor, LONG serviceCount, SOLE_AUTHENTICATION_SERVICE* services,
                              void* reserved1, DWORD authenticationLevel, DWORD impersonationLevel, void* authList,
                              DWORD capabilities, void* reserved3) {
  ++seams.securityCalls;
  seams.securityArgumentsAsExpected &= descriptor == nullptr && serviceCount == -1 && services == nullptr &&
                                       reserved1 == nullptr && authenticationLevel == 6 && impersonationLevel == 3 &&
                                       authList == nullptr && capabilities == 2 && reserved3 == nullptr;
  return seams.securityResult;
}

HRESULT WINAPI CreateFakeLocator(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId, LPVOID* object) {
  ++seams.createCalls;
  seams.createArgumentsAsExpected &= classId == CLSID_WbemLocator && outer == nullptr &&
                                     context == CLSCTX_INPROC_SERVER && interfaceId == IID_IWbemLocator;
  *object = nullptr;
  if (seams.createResult != S_OK) return seams.createResult;
  seams.locator->AddRef();
  *object = seams.locator;
  return S_OK;
}

BOOL WINAPI FakeComputerName(LPSTR buffer, LPDWORD capacity) {
  ++seams.nameCalls;
  // The name goes right behind the two backslashes, into the 16 cells left.
  seams.nameBufferAsExpected &= *capacity == 16 && buffer[-2] == '\\' && buffer[-1] == '\\';
  if (seams.computerName == nullptr) return FALSE;
  lstrcpyA(buffer, seams.computerName);
  *capacity = lstrlenA(seams.computerName);
  return TRUE;
}

BSTR WINAPI RefuseAllocation(const OLECHAR* text) {
  ++seams.allocationCalls;
  seams.allocated = text;
  return nullptr;
}

void CountDuringConnect() {
  seams.handlesDuringConnect = HandlesOfThisProcess();
  seams.threadsDuringConnect = ThreadsOfThisProcess();
}

std::string RealMachineName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD capacity = sizeof name;
  return GetComputerNameA(name, &capacity) ? std::string("\\\\") + name : std::string("(no name)");
}

// Every test starts with COM off on this thread, no connection and a
// poll state from earlier in a run; the teardown must leave COM balanced.
class ConnectTest : public testing::Test {
 protected:
  FakeLocator locator;

  void SetUp() override {
    seams = SeamLog{};
    seams.locator = &locator;
    wmiConnectCalls = REAL_WMI_CONNECT_CALLS;
    ASSERT_EQ(WmiServices, nullptr);
    ASSERT_FALSE(ComInitializedHere());
    LastConnectResult = EARLIER_RESULT;
    counterScale = CounterScale{};
    counterScale.lastSample = 5;
  }

  void TearDown() override {
    ShutdownWmiConnection();
    EXPECT_EQ(WmiServices, nullptr);
    EXPECT_FALSE(ComInitializedHere()) << "the shutdown left COM unbalanced";
    wmiConnectCalls = REAL_WMI_CONNECT_CALLS;
  }

  // Replaces the locator's creation by the fake locator, and the computer
  // name by a fixed one.
  void UseFakeLocator(const char* computerName = "ABCDEFGHIJKLMNO") {
    wmiConnectCalls.coCreateInstance = CreateFakeLocator;
    wmiConnectCalls.getComputerNameA = FakeComputerName;
    seams.computerName = computerName;
  }

  ActivitySample Connect(std::string& output) {
    StdoutCapture capture;
    const ActivitySample sample = ConnectAndPoll();
    output = capture.Take();
    return sample;
  }
};

TEST_F(ConnectTest, ConnectsToWinesWmiAndMakesTheFirstPoll) {
  const std::string machine = RealMachineName();
  std::string output;
  EXPECT_EQ(Connect(output), 0);

  // Line by line: the connecting line (with whatever dots the connection
  // took), the progress thread's line end, an empty line, the connected line.
  // Wine has no disk instances, so the first poll prints nothing.
  const std::string connecting = "Connecting to " + machine + " WMI server at root\\WMI...";
  ASSERT_EQ(output.compare(0, connecting.size(), connecting), 0) << output;
  const std::size_t lineEnd = output.find('\n');
  ASSERT_NE(lineEnd, std::string::npos);
  EXPECT_EQ(output.substr(connecting.size(), lineEnd - connecting.size()).find_first_not_of('.'), std::string::npos);
  EXPECT_EQ(output.substr(lineEnd), "\n\nConnected with " + machine + "\n");

  ASSERT_NE(WmiServices, nullptr);
  EXPECT_TRUE(ComInitializedHere());
  // The first poll completed (its sample replaced the earlier one) and is kept.
  EXPECT_EQ(counterScale.lastSample, 0u);
  EXPECT_EQ(LastConnectResult, 0);
  // The kept services serve the later polls.
  StdoutCapture capture;
  EXPECT_EQ(PollDiskCounters(WmiServices), 0);
  EXPECT_EQ(capture.Take(), "");
}

TEST_F(ConnectTest, KeepsTheServicesWithOneReferenceAndReturnsTheFirstPoll) {
  UseFakeLocator();
  FakeServices services;
  FakeInstanceEnum instances;
  FakeClassObject instance, perfData;
  perfData.WithInteger(L"ReadCount", 25).WithInteger(L"WriteCount", 12);
  instance.HoldObject(&perfData);
  instances.instances = {&instance};
  services.instanceEnum = &instances;
  locator.servicesToGive = &services;

  std::string output;
  EXPECT_EQ(Connect(output), 37);
  EXPECT_EQ(output,
            "Connecting to \\\\ABCDEFGHIJKLMNO WMI server at root\\WMI...\n"
            "\n"
            "Connected with \\\\ABCDEFGHIJKLMNO\n"
            "\tReadCount\t= 25\n"
            "\tWriteCount\t= 12\n");
  EXPECT_EQ(LastConnectResult, 37);
  EXPECT_EQ(WmiServices, &services);
  EXPECT_EQ(services.refs, 2u);  // the test's and WmiServices'
  EXPECT_EQ(locator.refs, 1u);
  // The path names only the namespace: the machine name is for the messages.
  EXPECT_EQ(locator.namespaces, std::vector<std::wstring>{L"root\\WMI"});
  EXPECT_FALSE(locator.otherArgumentGiven);
  EXPECT_TRUE(seams.nameBufferAsExpected);
  EXPECT_TRUE(seams.createArgumentsAsExpected);

  ReleaseWmiServices();
  EXPECT_EQ(services.refs, 1u);
  EXPECT_EQ(WmiServices, nullptr);
}

// WMI went away and the program connects again: COM and its security are
// kept from the first connection, since the platform refuses the security
// a second time.
TEST_F(ConnectTest, ASecondConnectionKeepsComAndItsSecurity) {
  wmiConnectCalls.coInitializeSecurity = RecordSecurity;
  UseFakeLocator();
  FakeServices services;
  FakeInstanceEnum first, second;
  services.instanceEnum = &first;
  locator.servicesToGive = &services;
  std::string output;
  Connect(output);
  ASSERT_EQ(WmiServices, &services);

  seams.securityResult = RPC_E_TOO_LATE;
  ReleaseWmiServices();
  services.instanceEnum = &second;
  Connect(output);
  EXPECT_EQ(output,
            "Connecting to \\\\ABCDEFGHIJKLMNO WMI server at root\\WMI...\n"
            "\n"
            "Connected with \\\\ABCDEFGHIJKLMNO\n");
  EXPECT_EQ(WmiServices, &services);
  EXPECT_EQ(seams.securityCalls, 1);
  EXPECT_EQ(services.refs, 2u);
  ReleaseWmiServices();  // before the fakes go
}

TEST_F(ConnectTest, RefusedSecurityReportsHosedComAndKeepsComInitialised) {
  wmiConnectCalls.coInitializeSecurity = RecordSecurity;
  seams.securityResult = RPC_E_TOO_LATE;  // what Windows answers once the process has set it
  UseFakeLocator();

  std::string output;
  EXPECT_EQ(Connect(output), 0);
  EXPECT_EQ(output, "COM stuff is hosed!\r\n");
  EXPECT_TRUE(ComInitializedHere());
  EXPECT_EQ(WmiServices, nullptr);
  EXPECT_EQ(seams.createCalls, 0);
}

TEST_F(ConnectTest, ComSecurityIsSetOnceWithItsArgumentsAndAnyNonNegativeResultIsSuccess) {
  wmiConnectCalls.coInitializeSecurity = RecordSecurity;
  seams.securityResult = S_OK;
  EXPECT_EQ(InitComSecurity(), 1);
  seams.securityResult = S_FALSE;
  EXPECT_EQ(InitComSecurity(), 1);
  seams.securityResult = E_OUTOFMEMORY;
  EXPECT_EQ(InitComSecurity(), 0);
  EXPECT_EQ(seams.securityCalls, 3);
  EXPECT_TRUE(seams.securityArgumentsAsExpected);
  // Wine accepts the real call.
  wmiConnectCalls = REAL_WMI_CONNECT_CALLS;
  EXPECT_EQ(InitComSecurity(), 1);
}

TEST_F(ConnectTest, AThreadInTheMultithreadedApartmentCannotInitialiseCom) {
  wmiConnectCalls.coInitializeSecurity = RecordSecurity;
  std::string output;
  ActivitySample sample = -1;
  bool heldAfterConnect = false, heldAfterShutdown = false, heldAtEnd = true;
  {
    StdoutCapture capture;
    std::thread([&] {
      if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return;
      sample = ConnectAndPoll();
      heldAfterConnect = ComInitializedHere();
      // The connection holds no COM of its own here: its teardown must not
      // take the thread's own initialisation away.
      ShutdownWmiConnection();
      heldAfterShutdown = ComInitializedHere();
      CoUninitialize();
      heldAtEnd = ComInitializedHere();
    }).join();
    output = capture.Take();
  }
  EXPECT_EQ(sample, 0);
  EXPECT_EQ(output, "COM stuff is hosed!\r\n");
  EXPECT_TRUE(heldAfterConnect);
  EXPECT_TRUE(heldAfterShutdown);
  EXPECT_FALSE(heldAtEnd) << "ConnectAndPoll left a COM initialisation behind";
  EXPECT_EQ(seams.securityCalls, 0);
  EXPECT_EQ(WmiServices, nullptr);
}

TEST_F(ConnectTest, WithoutALocatorWmiIsUnavailable) {
  UseFakeLocator();
  seams.createResult = REGDB_E_CLASSNOTREG;

  std::string output;
  EXPECT_EQ(Connect(output), EARLIER_RESULT);
  EXPECT_EQ(output, "WMI services not present or unavailable!\n");
  EXPECT_TRUE(seams.createArgumentsAsExpected);
  EXPECT_TRUE(ComInitializedHere());
  EXPECT_EQ(WmiServices, nullptr);
  EXPECT_EQ(seams.nameCalls, 0);
}

TEST_F(ConnectTest, WithoutAComputerNameTheLocatorAndComAreGivenUp) {
  UseFakeLocator(nullptr);

  std::string output;
  EXPECT_EQ(Connect(output), 0);
  EXPECT_EQ(output, "Could not get local machine name.\n");
  EXPECT_TRUE(seams.nameBufferAsExpected);
  EXPECT_EQ(locator.refs, 1u);
  EXPECT_TRUE(locator.namespaces.empty());
  EXPECT_FALSE(ComInitializedHere());
  EXPECT_EQ(WmiServices, nullptr);
}

TEST_F(ConnectTest, WithoutMemoryForTheNamespaceTheLocatorAndComAreGivenUp) {
  UseFakeLocator();
  wmiConnectCalls.sysAllocString = RefuseAllocation;

  std::string output;
  EXPECT_EQ(Connect(output), 0);
  EXPECT_EQ(output, "Out of memory\n");
  EXPECT_EQ(seams.allocated, L"root\\WMI");
  EXPECT_EQ(locator.refs, 1u);
  EXPECT_TRUE(locator.namespaces.empty());
  EXPECT_FALSE(ComInitializedHere());
  EXPECT_EQ(WmiServices, nullptr);
}

TEST_F(ConnectTest, ASlowFailedConnectionPrintsItsDotsBeforeTheFailure) {
  UseFakeLocator();
  locator.connectResult = static_cast<HRESULT>(WBEM_E_ACCESS_DENIED);
  locator.connectDelayMs = 750;  // two full dot intervals, with room either side
  locator.duringConnect = CountDuringConnect;
  const int handlesBefore = HandlesOfThisProcess();

  std::string output;
  EXPECT_EQ(Connect(output), EARLIER_RESULT);
  EXPECT_EQ(output,
            "Connecting to \\\\ABCDEFGHIJKLMNO WMI server at root\\WMI.....\n"
            "\n"
            "Failed to connect with \\\\ABCDEFGHIJKLMNO, Error: 0x80041003\n");
  EXPECT_EQ(WmiServices, nullptr);
  EXPECT_EQ(LastConnectResult, EARLIER_RESULT);
  EXPECT_EQ(locator.refs, 1u);
  EXPECT_TRUE(ComInitializedHere());
  // The progress thread ran beside the connection and is gone; its handle
  // and the event's are closed.
  EXPECT_GT(seams.threadsDuringConnect, ThreadsOfThisProcess());
  EXPECT_GE(seams.handlesDuringConnect, handlesBefore + 2);
  EXPECT_EQ(HandlesOfThisProcess(), handlesBefore);
}

TEST_F(ConnectTest, AFailureWithAShortCodeIsPaddedAndLeavesNoServicesBehind) {
  UseFakeLocator("PC");
  FakeServices services;
  // Not exactly 0 is a failure, even with services handed out.
  locator.connectResult = S_FALSE;
  locator.servicesToGive = &services;

  std::string output;
  EXPECT_EQ(Connect(output), EARLIER_RESULT);
  EXPECT_EQ(output,
            "Connecting to \\\\PC WMI server at root\\WMI...\n"
            "\n"
            "Failed to connect with \\\\PC, Error: 0x       1\n");
  EXPECT_EQ(WmiServices, nullptr);
  EXPECT_EQ(services.refs, 1u);
  EXPECT_EQ(locator.refs, 1u);
}

// The progress printer on its own, against the clock.
class ProgressThreadTest : public testing::Test {
 protected:
  // Runs the printer with the event, signalled after delayMs; returns its output.
  static std::string RunFor(DWORD delayMs, bool withEvent = true) {
    StdoutCapture capture;
    HANDLE event = withEvent ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
    HANDLE thread = CreateThread(nullptr, 0, ConnectProgressThread, event, 0, nullptr);
    Sleep(delayMs);
    if (event) SetEvent(event);
    WaitForSingleObject(thread, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(thread);
    if (event) CloseHandle(event);
    return capture.Take();
  }
};

TEST_F(ProgressThreadTest, PrintsOneDotPerFullIntervalThenTheLineEnd) {
  EXPECT_EQ(RunFor(100), "\n");
  EXPECT_EQ(RunFor(450), ".\n");
  EXPECT_EQ(RunFor(1050), "...\n");
}

TEST_F(ProgressThreadTest, WithoutAnEventItEndsTheLineAtOnce) {
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunFor(0, false), "\n");
  EXPECT_LT(GetTickCount() - start, 250u);
}

}  // namespace
