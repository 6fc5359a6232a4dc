#include "tools/wine_disks/wmi_objects_win32.h"

#include <wrl/client.h>

#include <cwchar>
#include <mutex>

#include "tools/wine_disks/disk_source_win32.h"

using Microsoft::WRL::ComPtr;

std::atomic<long> liveProviderObjects{0};

namespace {

// The WMI error codes are unsigned enumerators; the methods return HRESULTs.
constexpr HRESULT Result(WBEMSTATUS status) {
  return static_cast<HRESULT>(status);
}

constexpr wchar_t DISK_CLASS[] = L"MSDiskDriver_Performance";
constexpr LONG INFINITE_WAIT = -1;  // WBEM_INFINITE as the LONG the methods take

// Takes over the creator's reference. MinGW's ComPtr::Attach adds one of
// its own, unlike the Windows SDK's, and would keep the object alive.
template <typename T>
ComPtr<T> Adopt(T* created) {
  ComPtr<T> owner;
  *owner.GetAddressOf() = created;
  return owner;
}

bool SameName(const wchar_t* a, const wchar_t* b) {
  return _wcsicmp(a, b) == 0;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (const char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

// Hands out the instances of one enumeration, taken when it was created,
// from stallMs after that on.
class CInstanceEnum : public CProviderObject<IEnumWbemClassObject> {
 public:
  CInstanceEnum(std::vector<ComPtr<IWbemClassObject>> instances, DWORD stallMs)
      : instances_(std::move(instances)), stallMs_(stallMs) {}

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
    if (objects == nullptr || returned == nullptr || (timeout < 0 && timeout != INFINITE_WAIT)) {
      return Result(WBEM_E_INVALID_PARAMETER);
    }
    *returned = 0;
    const DWORD waited = GetTickCount() - created_;
    if (waited < stallMs_) {
      const DWORD left = stallMs_ - waited;
      if (timeout != INFINITE_WAIT && static_cast<DWORD>(timeout) < left) {
        Sleep(static_cast<DWORD>(timeout));
        return WBEM_S_TIMEDOUT;
      }
      Sleep(left);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    ULONG given = 0;
    for (; given < count && next_ < instances_.size(); ++given, ++next_) {
      objects[given] = instances_[next_].Get();
      objects[given]->AddRef();
    }
    *returned = given;
    return given == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    const std::lock_guard<std::mutex> lock(mutex_);
    next_ = 0;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE Skip(LONG timeout, ULONG count) override {
    if (timeout < 0 && timeout != INFINITE_WAIT) return Result(WBEM_E_INVALID_PARAMETER);
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t left = instances_.size() - next_;
    const std::size_t skipped = count < left ? count : left;
    next_ += skipped;
    return skipped == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return Result(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** copy) override {
    if (copy != nullptr) *copy = nullptr;
    return Result(WBEM_E_NOT_SUPPORTED);
  }

 private:
  std::mutex mutex_;  // the objects may be used from any apartment
  std::vector<ComPtr<IWbemClassObject>> instances_;
  std::size_t next_ = 0;
  const DWORD created_ = GetTickCount();
  const DWORD stallMs_;
};

// How many connections "refuse-connect" has refused so far.
std::atomic<std::uint32_t> refusedConnections{0};

// A local server path names this machine: "\\.\root\WMI", "//./root/WMI",
// or none at all.
bool IsDiskNamespace(const wchar_t* path) {
  std::wstring rest(path);
  for (wchar_t& c : rest) {
    if (c == L'/') c = L'\\';
  }
  if (rest.compare(0, 4, L"\\\\.\\") == 0) rest.erase(0, 4);
  return SameName(rest.c_str(), L"root\\WMI");
}

}  // namespace

// --- CPropertyObject ---------------------------------------------------------

CPropertyObject::~CPropertyObject() {
  for (Property& property : properties_) VariantClear(&property.value);
}

void CPropertyObject::Add(const wchar_t* name, CIMTYPE type, const VARIANT& value) {
  properties_.push_back(Property{name, type, value});
}

void CPropertyObject::AddText(const wchar_t* name, const std::wstring& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  Add(name, CIM_STRING, value);
}

void CPropertyObject::AddInt32(const wchar_t* name, std::uint32_t integer) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = static_cast<LONG>(integer);
  Add(name, CIM_UINT32, value);
}

void CPropertyObject::AddInt64(const wchar_t* name, std::int64_t integer) {
  wchar_t digits[24];
  std::swprintf(digits, sizeof digits / sizeof digits[0], L"%lld", static_cast<long long>(integer));
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(digits);
  Add(name, CIM_SINT64, value);
}

void CPropertyObject::AddUInt16Array(const wchar_t* name, const std::vector<std::uint16_t>& integers) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_ARRAY | VT_I4;
  value.parray = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(integers.size()));
  if (value.parray != nullptr) {
    for (LONG i = 0; i < static_cast<LONG>(integers.size()); ++i) {
      LONG element = integers[static_cast<std::size_t>(i)];
      SafeArrayPutElement(value.parray, &i, &element);
    }
  } else {
    value.vt = VT_NULL;
  }
  Add(name, CIM_UINT16 | CIM_FLAG_ARRAY, value);
}

void CPropertyObject::AddBool(const wchar_t* name, bool flag) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
  Add(name, CIM_BOOLEAN, value);
}

void CPropertyObject::AddObject(const wchar_t* name, IWbemClassObject* object) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_UNKNOWN;
  value.punkVal = object;
  object->AddRef();
  Add(name, CIM_OBJECT, value);
}

HRESULT CPropertyObject::Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) {
  if (name == nullptr || flags != 0) return Result(WBEM_E_INVALID_PARAMETER);
  for (const Property& property : properties_) {
    if (!SameName(property.name.c_str(), name)) continue;
    if (value != nullptr) {
      VariantInit(value);
      const HRESULT copied = VariantCopy(value, const_cast<VARIANT*>(&property.value));
      if (FAILED(copied)) return Result(WBEM_E_OUT_OF_MEMORY);
    }
    if (type != nullptr) *type = property.type;
    if (flavor != nullptr) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
    return WBEM_S_NO_ERROR;
  }
  return Result(WBEM_E_NOT_FOUND);
}

HRESULT CPropertyObject::BeginEnumeration(LONG flags) {
  // The origin is a value of its own field, not a set of bits. Every
  // property here is local and none is a system property, so asking for
  // propagated or system properties alone gives an empty walk.
  const LONG origin = flags & WBEM_MASK_CONDITION_ORIGIN;
  if ((flags & ~WBEM_MASK_CONDITION_ORIGIN) != 0 || origin > WBEM_FLAG_NONSYSTEM_ONLY) {
    return Result(WBEM_E_INVALID_PARAMETER);
  }
  walking_ = true;
  walkAt_ = origin == WBEM_FLAG_PROPAGATED_ONLY || origin == WBEM_FLAG_SYSTEM_ONLY ? properties_.size() : 0;
  return WBEM_S_NO_ERROR;
}

HRESULT CPropertyObject::Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) {
  if (flags != 0) return Result(WBEM_E_INVALID_PARAMETER);
  if (!walking_) return Result(WBEM_E_UNEXPECTED);
  if (walkAt_ >= properties_.size()) {
    if (name != nullptr) *name = nullptr;
    if (value != nullptr) VariantInit(value);
    return WBEM_S_NO_MORE_DATA;
  }
  const Property& property = properties_[walkAt_++];
  if (name != nullptr) {
    *name = SysAllocStringLen(property.name.data(), static_cast<UINT>(property.name.size()));
    if (*name == nullptr) return Result(WBEM_E_OUT_OF_MEMORY);
  }
  if (value != nullptr) {
    VariantInit(value);
    if (FAILED(VariantCopy(value, const_cast<VARIANT*>(&property.value)))) {
      if (name != nullptr) {
        SysFreeString(*name);
        *name = nullptr;
      }
      return Result(WBEM_E_OUT_OF_MEMORY);
    }
  }
  if (type != nullptr) *type = property.type;
  if (flavor != nullptr) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  return WBEM_S_NO_ERROR;
}

HRESULT CPropertyObject::EndEnumeration() {
  walking_ = false;
  return WBEM_S_NO_ERROR;
}

// Read-only objects without qualifiers, methods or a class of their own.
HRESULT CPropertyObject::GetQualifierSet(IWbemQualifierSet**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::Delete(LPCWSTR) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::Clone(IWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::GetObjectText(LONG, BSTR*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::SpawnDerivedClass(LONG, IWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::SpawnInstance(LONG, IWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::CompareTo(LONG, IWbemClassObject*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::GetPropertyOrigin(LPCWSTR, BSTR*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::InheritsFrom(LPCWSTR) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::DeleteMethod(LPCWSTR) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::BeginMethodEnumeration(LONG) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::EndMethodEnumeration() {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CPropertyObject::GetMethodOrigin(LPCWSTR, BSTR*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}

// --- instances ---------------------------------------------------------------

namespace {

// The platform's disk times are in units of 100 ns.
constexpr std::int64_t HUNDRED_NS_PER_MS = 10000;

// What Windows' partition manager puts in StorageManagerName for a whole
// disk: "PARTMGR" in eight UTF-16 units.
const std::vector<std::uint16_t> PARTITION_MANAGER_NAME = {'P', 'A', 'R', 'T', 'M', 'G', 'R', 0};

std::int64_t Signed(std::uint64_t value) {
  return static_cast<std::int64_t>(value & 0x7FFFFFFFFFFFFFFFu);
}

}  // namespace

IWbemClassObject* NewDiskInstance(const DiskCounters& disk, std::uint32_t deviceNumber) {
  // The shape of the platform's own class, property by property: 64-bit
  // quantities are CIM sint64, which WMI hands over as text; the counts are
  // uint32, their low bits, which wrap as a real counter does.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::int64_t queryTime =
      static_cast<std::int64_t>((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
  const std::uint64_t upMs = GetTickCount64();
  const std::uint64_t idleMs = upMs > disk.ioTimeMs ? upMs - disk.ioTimeMs : 0;

  const ComPtr<CPropertyObject> perfData = Adopt(new CPropertyObject);
  perfData->AddInt64(L"BytesRead", Signed(disk.bytesRead));
  perfData->AddInt64(L"BytesWritten", Signed(disk.bytesWritten));
  perfData->AddInt64(L"ReadTime", Signed(disk.readTimeMs) * HUNDRED_NS_PER_MS);
  perfData->AddInt64(L"WriteTime", Signed(disk.writeTimeMs) * HUNDRED_NS_PER_MS);
  perfData->AddInt64(L"IdleTime", Signed(idleMs) * HUNDRED_NS_PER_MS);
  perfData->AddInt32(L"ReadCount", static_cast<std::uint32_t>(disk.reads));
  perfData->AddInt32(L"WriteCount", static_cast<std::uint32_t>(disk.writes));
  perfData->AddInt32(L"QueueDepth", static_cast<std::uint32_t>(disk.inFlight));
  perfData->AddInt32(L"SplitCount", 0);  // the kernel merges requests; it never splits them
  perfData->AddInt64(L"QueryTime", queryTime);
  perfData->AddInt32(L"StorageDeviceNumber", deviceNumber);
  perfData->AddUInt16Array(L"StorageManagerName", PARTITION_MANAGER_NAME);

  const std::wstring number = std::to_wstring(deviceNumber);
  auto* instance = new CPropertyObject;
  instance->AddText(L"InstanceName", Wide(disk.name) + L"_0");
  instance->AddBool(L"Active", true);
  instance->AddText(L"DeviceName", L"\\Device\\Harddisk" + number + L"\\DR" + number);
  instance->AddObject(L"PerfData", perfData.Get());
  return instance;
}

// --- CDiskServices -----------------------------------------------------------

HRESULT CDiskServices::CreateInstanceEnum(const BSTR className, LONG, IWbemContext*, IEnumWbemClassObject** instances) {
  if (instances == nullptr || className == nullptr) return Result(WBEM_E_INVALID_PARAMETER);
  *instances = nullptr;
  if (!SameName(className, DISK_CLASS)) return Result(WBEM_E_INVALID_CLASS);
  const DiskScript script = ReadDisks();
  if (script.faults.enumFailure != 0) return static_cast<HRESULT>(script.faults.enumFailure);
  std::vector<ComPtr<IWbemClassObject>> objects;
  std::uint32_t deviceNumber = 0;
  for (const DiskCounters& disk : script.disks) {
    objects.push_back(Adopt(NewDiskInstance(disk, deviceNumber++)));
  }
  *instances = new CInstanceEnum(std::move(objects), script.faults.stallMs);
  return WBEM_S_NO_ERROR;
}

HRESULT CDiskServices::OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::CancelAsyncCall(IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::QueryObjectSink(LONG, IWbemObjectSink**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                                  IWbemCallResult**) {
  return Result(WBEM_E_NOT_SUPPORTED);
}
HRESULT CDiskServices::ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                       IWbemObjectSink*) {
  return Result(WBEM_E_NOT_SUPPORTED);
}

// --- CDiskLocator ------------------------------------------------------------

HRESULT CDiskLocator::ConnectServer(const BSTR path, const BSTR, const BSTR, const BSTR, LONG, const BSTR,
                                    IWbemContext*, IWbemServices** services) {
  if (services == nullptr || path == nullptr) return Result(WBEM_E_INVALID_PARAMETER);
  *services = nullptr;
  if (!IsDiskNamespace(path)) return Result(WBEM_E_INVALID_NAMESPACE);
  // Without the line the count starts again, for the next time it appears.
  const std::uint32_t toRefuse = ReadDisks().faults.refusedConnections;
  if (toRefuse == 0) refusedConnections = 0;
  if (refusedConnections < toRefuse) {
    ++refusedConnections;
    return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  }
  *services = new CDiskServices;
  return WBEM_S_NO_ERROR;
}
