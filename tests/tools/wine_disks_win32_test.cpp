// The Wine disk-performance provider as a program loads it: the real DLL,
// its class factory, locator, services, enumerator and objects, walked by
// gleamo's own poll. Every reference handed out is given back, and then the
// DLL may be unloaded.
#include <windows.h>

#include <gtest/gtest.h>
#include <wbemidl.h>

#include <fstream>
#include <regex>
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
    dll = LoadLibraryA(BesideThisTest(WINE_DISKS_DLL).c_str());
    ASSERT_NE(dll, nullptr) << "cannot load " << WINE_DISKS_DLL << ", error " << GetLastError();
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

std::wstring TextOf(IWbemClassObject* object, const wchar_t* name) {
  VARIANT value;
  CIMTYPE type = 0;
  if (object->Get(name, 0, &value, &type, nullptr) != S_OK) return L"(no such property)";
  std::wstring text = value.vt == VT_BSTR && type == CIM_STRING ? value.bstrVal : L"(not a CIM string)";
  VariantClear(&value);
  return text;
}

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

  // The platform's own class: sint64 as text, uint32 as VT_I4, the uint16
  // array of StorageManagerName as neither. The counts are the low 32 bits
  // of the file's 64-bit values; a line that is no disk is skipped, and a
  // file written on Windows has CR LF.
  WriteCounters("sda 4294967301 7\r\nnot a disk\nsdb 10 4294967295\n");
  const auto perfData = [](const char* reads, const char* writes, const char* number) {
    return std::string(
               "\tBytesRead\t= 0\n\tBytesWritten\t= 0\n\tReadTime\t= 0\n\tWriteTime\t= 0\n"
               "\tIdleTime\t= [1-9][0-9]*0000\n\tReadCount\t= ") +
           reads + "\n\tWriteCount\t= " + writes +
           "\n\tQueueDepth\t= 0\n\tSplitCount\t= 0\n\tQueryTime\t= 1[0-9]{17}\n\tStorageDeviceNumber\t= " + number +
           "\n\tStorageManagerName\t= NULL\n";
  };
  const std::string lines = Poll(services);
  EXPECT_TRUE(std::regex_match(lines, std::regex(perfData("5", "7", "0") + perfData("10", "-1", "1")))) << lines;
  EXPECT_EQ(counterScale.readTotal, 15u);
  EXPECT_EQ(counterScale.writeTotal, 6u);
  EXPECT_EQ(counterScale.instanceCount, 2u);

  // The instance carries its key, the device name and the manager's name
  // beside PerfData.
  IEnumWbemClassObject* instances = nullptr;
  BSTR diskClass = SysAllocString(L"MSDiskDriver_Performance");
  ASSERT_EQ(services->CreateInstanceEnum(diskClass, WBEM_FLAG_SHALLOW, nullptr, &instances), S_OK);
  SysFreeString(diskClass);
  IWbemClassObject* first = nullptr;
  ULONG returned = 0;
  ASSERT_EQ(instances->Next(-1, 1, &first, &returned), S_OK);
  EXPECT_EQ(TextOf(first, L"InstanceName"), L"sda_0");
  EXPECT_EQ(TextOf(first, L"DeviceName"), L"\\Device\\Harddisk0\\DR0");
  VARIANT value;
  CIMTYPE type = 0;
  ASSERT_EQ(first->Get(L"PerfData", 0, &value, &type, nullptr), S_OK);
  EXPECT_EQ(type, CIM_OBJECT);
  IWbemClassObject* counters = nullptr;
  ASSERT_EQ(value.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&counters)), S_OK);
  VariantClear(&value);
  ASSERT_EQ(counters->Get(L"StorageManagerName", 0, &value, &type, nullptr), S_OK);
  EXPECT_EQ(type, CIM_UINT16 | CIM_FLAG_ARRAY);
  ASSERT_EQ(value.vt, VT_ARRAY | VT_I4);
  std::wstring manager;
  for (LONG i = 0; i < 8; ++i) {
    LONG unit = 0;
    SafeArrayGetElement(value.parray, &i, &unit);
    if (unit != 0) manager += static_cast<wchar_t>(unit);
  }
  EXPECT_EQ(manager, L"PARTMGR");
  VariantClear(&value);
  counters->Release();
  first->Release();
  instances->Release();

  // Another disk in sdb's place with the same counts: the set is told
  // apart by the instances' keys, and the poll measures nothing.
  WriteCounters("sda 4294967311 7\nsdc 10 4294967295\n");
  Poll(services);
  EXPECT_EQ(counterScale.readDelta, 0u);
  WriteCounters("sda 4294967321 7\nsdc 10 4294967295\n");
  Poll(services);
  EXPECT_EQ(counterScale.readDelta, 10u);

  // Read afresh on every enumeration; without the file a poll finds no disk.
  WriteCounters("sda 4294967311 9\n");
  Poll(services);
  EXPECT_EQ(counterScale.readTotal, 15u);
  EXPECT_EQ(counterScale.writeTotal, 9u);
  DeleteFileA(countersPath.c_str());
  EXPECT_EQ(Poll(services), "");
  EXPECT_EQ(counterScale.readTotal, 0u);

  // Other classes are refused.
  instances = nullptr;
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
