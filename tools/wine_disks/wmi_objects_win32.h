// The WMI objects of the disk-performance provider: a locator that opens
// root\WMI, its services, which enumerate MSDiskDriver_Performance, and
// class objects holding fixed properties. Only what a disk poll needs
// behaves; every other method returns a WMI error code.
#pragma once

#include <wbemidl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/wine_disks/disk_list.h"

// Every living object of the provider, so that the DLL knows when it may go.
extern std::atomic<long> liveProviderObjects;

// Reference counting and QueryInterface for IUnknown and one interface.
template <typename Interface>
class CProviderObject : public Interface {
 public:
  CProviderObject() { ++liveProviderObjects; }
  virtual ~CProviderObject() { --liveProviderObjects; }
  CProviderObject(const CProviderObject&) = delete;
  CProviderObject& operator=(const CProviderObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid != IID_IUnknown && iid != __uuidof(Interface)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG refs_ = 1;  // the creator's
};

// Hands a new object out as the interface asked for: the caller then holds
// the only reference, or none when the object has no such interface.
template <typename Object>
HRESULT HandOut(Object* created, REFIID iid, void** object) {
  const HRESULT result = created->QueryInterface(iid, object);
  created->Release();
  return result;
}

// A class object with a fixed list of local, non-system properties, in the
// order they were added. Names are matched without regard to case, as WMI
// does.
class CPropertyObject : public CProviderObject<IWbemClassObject> {
 public:
  ~CPropertyObject() override;

  void AddText(const wchar_t* name, const std::wstring& text);
  void AddInt32(const wchar_t* name, std::uint32_t value);   // a CIM uint32: WMI hands it over as VT_I4
  void AddInt64(const wchar_t* name, std::int64_t value);    // a CIM sint64: WMI hands it over as text
  void AddUInt16Array(const wchar_t* name, const std::vector<std::uint16_t>& values);  // each one a VT_I4
  void AddBool(const wchar_t* name, bool value);
  void AddObject(const wchar_t* name, IWbemClassObject* object);  // takes a reference of its own

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
  HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG flags) override;
  HRESULT STDMETHODCALLTYPE Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
  HRESULT STDMETHODCALLTYPE EndEnumeration() override;

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override;
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override;
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override;
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override;
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override;
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override;
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override;
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override;
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override;
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override;
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override;
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override;
  HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override;
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override;
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override;

 private:
  struct Property {
    std::wstring name;
    CIMTYPE type;
    VARIANT value;  // owned
  };
  void Add(const wchar_t* name, CIMTYPE type, const VARIANT& value);

  std::vector<Property> properties_;
  bool walking_ = false;
  std::size_t walkAt_ = 0;
};

// One MSDiskDriver_Performance instance: InstanceName (the key), Active,
// DeviceName and the embedded PerfData object with the disk's counters.
// Disks are numbered as the platform numbers them, from 0 in their order.
IWbemClassObject* NewDiskInstance(const DiskCounters& disk, std::uint32_t deviceNumber);

// The services of root\WMI.
class CDiskServices : public CProviderObject<IWbemServices> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR className, LONG flags, IWbemContext* context,
                                               IEnumWbemClassObject** instances) override;

  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override;
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override;
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) override;
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                  IEnumWbemClassObject**) override;
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                       IWbemObjectSink*) override;
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                       IWbemClassObject**, IWbemCallResult**) override;
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                            IWbemObjectSink*) override;
};

// Opens root\WMI of the local machine; any other namespace is refused.
class CDiskLocator : public CProviderObject<IWbemLocator> {
 public:
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR path, const BSTR user, const BSTR password, const BSTR locale,
                                          LONG securityFlags, const BSTR authority, IWbemContext* context,
                                          IWbemServices** services) override;
};
