#include "activity/disk_counters_win32.h"

#include <wrl/client.h>

#include <cstdio>

#include "activity/counter_scale.h"
#include "activity/counter_walk.h"
#include "activity/wmi_connection_win32.h"
#include "common/win32_handles.h"

using Microsoft::WRL::ComPtr;

bool lastPollCompleted = false;

namespace {

// Names the instance in the poll's set of disks by its key, InstanceName,
// so that one disk leaving and another joining between two polls is seen.
// An instance whose key cannot be read still counts, without a name.
void AddToInstanceSet(IWbemClassObject* instance) {
  CountInstance(counterScale);
  ScopedVariant key;
  // Get takes the name as a plain wide string: nothing to allocate per tick.
  if (instance->Get(L"InstanceName", 0, &key.value, nullptr, nullptr) != 0) return;
  if (key.value.vt == VT_BSTR && key.value.bstrVal != nullptr) {
    AddInstanceName(counterScale, key.value.bstrVal, SysStringLen(key.value.bstrVal));
  }
}

// Adds the counters of one instance's embedded PerfData object. An instance
// whose PerfData cannot be read adds nothing, not even itself to the poll's
// instance set.
void AddInstanceCounters(IWbemClassObject* instance, VARIANT& perfData) {
  unique_bstr perfDataName{SysAllocString(L"PerfData")};
  if (instance->Get(perfDataName.get(), 0, &perfData, nullptr, nullptr) != 0) return;
  if (perfData.vt == VT_UNKNOWN && perfData.punkVal != nullptr) {
    ComPtr<IWbemClassObject> object;
    if (perfData.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(object.GetAddressOf())) == 0) {
      AddToInstanceSet(instance);
      SumPerfDataCounters(object.Get());
    }
  }
  VariantClear(&perfData);
}

PropertyKind KindOf(const VARIANT& value) {
  // The type is compared whole: an array or by-reference flag is another type.
  switch (value.vt) {
    case VT_I4: return PropertyKind::Int32;
    case VT_BSTR: return PropertyKind::Text;
    default: return PropertyKind::Other;
  }
}

}  // namespace

ActivitySample PollDiskCounters(IWbemServices* services) {
  lastPollCompleted = false;
  // Without a connection there is nothing to poll: the last sample keeps the
  // icon idle.
  if (services == nullptr) return static_cast<ActivitySample>(counterScale.lastSample);

  ScopedVariant perfData;
  unique_bstr className{wmiConnectCalls.sysAllocString(L"MSDiskDriver_Performance")};
  if (!className) {
    std::printf("Out of memory\n");
    // As every other failed poll: a made-up sample would show as activity.
    return static_cast<ActivitySample>(counterScale.lastSample);
  }
  StartCounterPoll(counterScale);

  ComPtr<IEnumWbemClassObject> instances;
  const HRESULT result = services->CreateInstanceEnum(className.get(), WBEM_FLAG_SHALLOW, nullptr, &instances);
  className.reset();
  if (result != 0 || !instances) {
    std::printf("Can't enumerate DiskPerf instances!\n");
    return static_cast<ActivitySample>(counterScale.lastSample);
  }

  for (;;) {
    ComPtr<IWbemClassObject> instance;
    ULONG returned = 0;
    const HRESULT next = instances->Next(INSTANCE_WAIT_MS, 1, &instance, &returned);
    if (next == WBEM_S_TIMEDOUT) {
      // Some disks may be counted already: scaling a part of them would
      // show their whole count as activity next time.
      std::printf("DiskPerf instances timed out!\n");
      return static_cast<ActivitySample>(counterScale.lastSample);
    }
    if (next != 0) break;  // end of data, or a failure
    if (instance) AddInstanceCounters(instance.Get(), perfData.value);
  }
  lastPollCompleted = true;
  return ScaleCounters(counterScale);
}

void SumPerfDataCounters(IWbemClassObject* perfData) {
  if (perfData->BeginEnumeration(WBEM_FLAG_LOCAL_ONLY) == 0) {
    for (;;) {
      unique_bstr name;
      ScopedVariant value;
      if (perfData->Next(0, name.put(), &value.value, nullptr, nullptr) != 0) break;  // end of data, or a failure
      const VARIANT& v = value.value;
      const PropertyKind kind = KindOf(v);
      const CounterProperty property{
          name ? name.get() : L"",
          name ? SysStringByteLen(name.get()) : 0u,
          kind,
          kind == PropertyKind::Int32 ? static_cast<std::int32_t>(v.lVal) : 0,
          kind == PropertyKind::Text && v.bstrVal != nullptr ? v.bstrVal : L"",
      };
      TallyCounterProperty(stdout, property, counterScale);
    }
  }
  perfData->EndEnumeration();
}
