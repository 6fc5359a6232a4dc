// The Wine disk-performance provider as a program loads it: the real DLL,
// its class factory, locator, services, enumerator and objects, walked by
// gleamo's own poll. Every reference handed out is given back, and then the
// DLL may be unloaded.
#include <windows.h>

#include <gtest/gtest.h>
#include <wbemidl.h>

#include <fstream>
#include <string>

#include "activity/counter_scale.h"
#include "activity/disk_counters_win32.h"
#include "tests/common/stdout_capture.h"

namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

std::string BesideThisTest(const char* relativePath) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self);
  path.erase(path.find_last_of("\\/") + 1);
  return path + relativePath;
}

class WineDisksProvider : public testing::Test {
 protected:
  HMODULE dll = nullptr;
  GetClassObjectFunction getClassObject = nullptr;
  CanUnloadNowFunction canUnloadNow = nullptr;
  std::string countersPath;

  void SetUp() override {
    dll = LoadLibraryA(BesideThisTest(WINE_DISKS_DLL_FROM_TEST).c_str());
    ASSERT_NE(dll, nullptr) << "cannot load " << WINE_DISKS_DLL_FROM_TEST << ", error " << GetLastError();
    getClassObject =
        reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    canUnloadNow =
        reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    char directory[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    GetTempFileNameA(directory, "dsk", 0, file);
    countersPath = file;
    SetEnvironmentVariableA("GLEAMO_DISKS", countersPath.c_str());
    counterScale = CounterScale{};
  }
  void TearDown() override {
    SetEnvironmentVariableA("GLEAMO_DISKS", nullptr);
    DeleteFileA(countersPath.c_str());
    if (dll != nullptr) FreeLibrary(dll);
  }

  void WriteCounters(const char* text) const { std::ofstream(countersPath, std::ios::binary) << text; }
};

std::string Poll(IWbemServices* services) {
  StdoutCapture capture;
  PollDiskCounters(services);
  return capture.Take();
}

TEST_F(WineDisksProvider, ServesEachDiskOfTheFileToTheWalkAndLeavesNoObjectBehind) {
  IClassFactory* factory = nullptr;
  EXPECT_EQ(getClassObject(CLSID_WbemLocator, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  ASSERT_NE(factory, nullptr);
  IWbemLocator* locator = nullptr;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IWbemLocator, reinterpret_cast<void**>(&locator)), S_OK);
  ASSERT_NE(locator, nullptr);
  EXPECT_EQ(factory->Release(), 0u);

  IWbemServices* services = nullptr;
  BSTR other = SysAllocString(L"root\\cimv2");
  EXPECT_EQ(locator->ConnectServer(other, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services),
            static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE));
  SysFreeString(other);
  EXPECT_EQ(services, nullptr);
  BSTR wmi = SysAllocString(L"root\\WMI");
  EXPECT_EQ(locator->ConnectServer(wmi, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services), S_OK);
  SysFreeString(wmi);
  ASSERT_NE(services, nullptr);
  EXPECT_EQ(locator->Release(), 0u);

  // The counts are the low 32 bits of the file's 64-bit values; a line that
  // is no disk is skipped, and a file written on Windows has CR LF.
  WriteCounters("sda 4294967301 7\r\nnot a disk\nsdb 10 4294967295\n");
  EXPECT_EQ(Poll(services),
            "\tDeviceName\t= sda\n\tBytesRead\t= 0\n\tBytesWritten\t= 0\n\tReadTime\t= 0\n\tWriteTime\t= 0\n"
            "\tReadCount\t= 5\n\tWriteCount\t= 7\n\tQueueDepth\t= 0\n"
            "\tDeviceName\t= sdb\n\tBytesRead\t= 0\n\tBytesWritten\t= 0\n\tReadTime\t= 0\n\tWriteTime\t= 0\n"
            "\tReadCount\t= 10\n\tWriteCount\t= -1\n\tQueueDepth\t= 0\n");
  EXPECT_EQ(counterScale.readTotal, 15u);
  EXPECT_EQ(counterScale.writeTotal, 6u);

  // Read afresh on every enumeration; without the file a poll finds no disk.
  WriteCounters("sda 4294967311 9\n");
  Poll(services);
  EXPECT_EQ(counterScale.readTotal, 15u);
  EXPECT_EQ(counterScale.writeTotal, 9u);
  DeleteFileA(countersPath.c_str());
  EXPECT_EQ(Poll(services), "");
  EXPECT_EQ(counterScale.readTotal, 0u);

  // Other classes are refused.
  IEnumWbemClassObject* instances = nullptr;
  BSTR otherClass = SysAllocString(L"Win32_DiskDrive");
  EXPECT_EQ(services->CreateInstanceEnum(otherClass, WBEM_FLAG_SHALLOW, nullptr, &instances),
            static_cast<HRESULT>(WBEM_E_INVALID_CLASS));
  SysFreeString(otherClass);
  EXPECT_EQ(instances, nullptr);

  EXPECT_EQ(canUnloadNow(), S_FALSE) << "the services are still held";
  EXPECT_EQ(services->Release(), 0u);
  EXPECT_EQ(canUnloadNow(), S_OK) << "an object of the provider outlived its last reference";
}

}  // namespace
