// The WMI poll's cost per tick, as a multiple of the least any poll costs:
// enumerating the MSDiskDriver_Performance instances and letting them go.
// Served by the Wine disk-performance provider, its DLL loaded directly,
// from a counter file of four disks, so that every machine measures the same
// work; the poll's lines go to the null device, as they do for a program
// started from the desktop.
//   gleamo_wmi_bench [--rounds N] [--polls N]
#include <windows.h>

#include <wbemidl.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "activity/wmi_connection_win32.h"
#include "bench/round_timer.h"
#include "common/win32_handles.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Options {
  int rounds = 7;
  int polls = 200;  // per round and case
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--rounds") == 0 && hasValue) {
      options.rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--polls") == 0 && hasValue) {
      options.polls = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return options.rounds > 0 && options.polls > 0;
}

std::string BesideThisProgram(const char* relativePath) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self);
  path.erase(path.find_last_of("\\/") + 1);
  return path + relativePath;
}

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

ComPtr<IWbemServices> ConnectToProvider(HMODULE dll) {
  const auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  ComPtr<IClassFactory> factory;
  ComPtr<IWbemLocator> locator;
  ComPtr<IWbemServices> services;
  if (getClassObject == nullptr ||
      FAILED(getClassObject(CLSID_WbemLocator, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()))) ||
      FAILED(factory->CreateInstance(nullptr, IID_IWbemLocator, reinterpret_cast<void**>(locator.GetAddressOf())))) {
    return services;
  }
  const unique_bstr path{SysAllocString(L"root\\WMI")};
  locator->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.GetAddressOf());
  return services;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: gleamo_wmi_bench [--rounds N] [--polls N]\n");
    return 2;
  }
  const HMODULE dll = LoadLibraryA(BesideThisProgram(WINE_DISKS_DLL).c_str());
  if (dll == nullptr) {
    std::fprintf(stderr, "cannot load %s, error %lu\n", WINE_DISKS_DLL, GetLastError());
    return 1;
  }
  char directory[MAX_PATH] = {};
  char countersPath[MAX_PATH] = {};
  GetTempPathA(sizeof directory, directory);
  GetTempFileNameA(directory, "dsk", 0, countersPath);
  if (FILE* counters = std::fopen(countersPath, "wb")) {
    std::fputs("sda 81234 40321\nsdb 7 0\nnvme0n1 5120033 2210871\nsdc 4294967301 12\n", counters);
    std::fclose(counters);
  }
  SetEnvironmentVariableA("GLEAMO_DISKS", countersPath);
  CoInitialize(nullptr);
  int exitCode = 0;
  {
    const ComPtr<IWbemServices> services = ConnectToProvider(dll);
    if (!services) {
      std::fprintf(stderr, "the provider refused the connection\n");
      return 1;
    }
    unique_bstr className{SysAllocString(L"MSDiskDriver_Performance")};
    ULONG instancesSeen = 0;
    auto bareEnumeration = [&] {
      ComPtr<IEnumWbemClassObject> instances;
      if (services->CreateInstanceEnum(className.get(), WBEM_FLAG_SHALLOW, nullptr, &instances) != 0) return;
      instancesSeen = 0;
      for (;;) {
        ComPtr<IWbemClassObject> instance;
        ULONG returned = 0;
        if (instances->Next(-1, 1, &instance, &returned) != 0) break;
        ++instancesSeen;
      }
    };
    // As the tick samples: the poll through the connection's services, with
    // the bookkeeping that notices a WMI gone away.
    WmiServices = services.Get();
    WmiServices->AddRef();
    auto poll = [&] { SampleWmiCounters(false); };

    // To the null device, as from the desktop (a character device: every
    // line is a write of its own), then to a file, where the C runtime
    // buffers them and the walk's own cost shows.
    std::fflush(stdout);
    FILE* const results = stderr;
    char linesPath[MAX_PATH] = {};
    GetTempFileNameA(directory, "lns", 0, linesPath);
    std::vector<double> bare;
    std::vector<double> toNull;
    std::vector<double> toFile;
    for (const char* target : {"NUL", static_cast<const char*>(linesPath)}) {
      if (std::freopen(target, "w", stdout) == nullptr) {
        std::fprintf(results, "cannot send the poll's lines to %s\n", target);
        return 1;
      }
      poll();  // the stream's first write sets it up
      for (int round = 0; round < options.rounds; ++round) {
        bare.push_back(RoundNanoseconds(static_cast<std::size_t>(options.polls), bareEnumeration));
        (target == linesPath ? toFile : toNull)
            .push_back(RoundNanoseconds(static_cast<std::size_t>(options.polls), poll));
      }
    }
    std::fclose(stdout);
    DeleteFileA(linesPath);
    ReleaseWmiServices();
    const double floor = Median(bare);
    std::fprintf(results, "WMI poll of %lu disks under this platform, median of %d rounds of %d polls:\n",
                 instancesSeen, options.rounds, options.polls);
    std::fprintf(results, "  %-34s %10.2f us\n", "bare instance enumeration", floor / 1000);
    for (const auto& [name, rounds] : {std::pair{"poll, lines to NUL", &toNull}, {"poll, lines to a file", &toFile}}) {
      const double nanoseconds = Median(*rounds);
      std::fprintf(results, "  %-34s %10.2f us %8.2f times the bare enumeration\n", name, nanoseconds / 1000,
                   floor > 0 ? nanoseconds / floor : 0.0);
    }
    if (instancesSeen == 0) {
      std::fprintf(results, "the provider served no disk\n");
      exitCode = 1;
    } else {
      std::fprintf(results, "every poll ran\n");
    }
  }
  CoUninitialize();
  DeleteFileA(countersPath);
  return exitCode;
}
