// Test doubles of the WMI interfaces the disk poll and the connection use,
// and a capture of standard output. Only the methods gleamo calls behave;
// every other method returns E_NOTIMPL. The doubles live on the test's stack:
// the test holds the first reference, so a balanced object ends with refs 1.
#pragma once

#include <gtest/gtest.h>
#include <wbemidl.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/stdout_capture.h"

// IUnknown with a visible reference count, answering for IUnknown and
// Interface unless told to refuse.
template <typename Interface>
class FakeUnknown : public Interface {
 public:
  ULONG refs = 1;
  bool refuseInterface = false;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (refuseInterface || (iid != IID_IUnknown && iid != __uuidof(Interface))) return E_NOINTERFACE;
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

// One property of a fake class object.
struct FakeProperty {
  std::wstring name;
  VARIANT value;  // owned by the fake
};

// A WMI class object: as an instance it answers Get of one of its properties
// by name and of any other name (PerfData) with getValue; as the PerfData
// object it walks its properties.
class FakeClassObject : public FakeUnknown<IWbemClassObject> {
 public:
  // What Get puts into the value, and what it returns.
  HRESULT getResult = S_OK;
  VARIANT getValue;
  std::vector<std::wstring> getNames;  // the names asked for
  std::vector<LONG> getFlags;
  bool getTypeOrFlavorAsked = false;

  // The property walk.
  std::vector<FakeProperty> properties;
  HRESULT beginResult = S_OK;
  HRESULT endOfDataResult = static_cast<HRESULT>(WBEM_S_NO_MORE_DATA);
  std::vector<LONG> beginFlags;
  std::vector<LONG> nextFlags;
  int endCalls = 0;
  bool nextTypeOrFlavorAsked = false;

  FakeClassObject() { VariantInit(&getValue); }
  ~FakeClassObject() {
    VariantClear(&getValue);
    for (auto& property : properties) VariantClear(&property.value);
  }
  FakeClassObject(const FakeClassObject&) = delete;
  FakeClassObject& operator=(const FakeClassObject&) = delete;

  FakeClassObject& WithInteger(const wchar_t* name, LONG integer) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = integer;
    properties.push_back({name, value});
    return *this;
  }
  FakeClassObject& WithText(const wchar_t* name, const wchar_t* text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
    properties.push_back({name, value});
    return *this;
  }
  FakeClassObject& WithValue(const wchar_t* name, VARTYPE type) {  // a value that is neither integer nor text
    VARIANT value;
    VariantInit(&value);
    value.vt = type;
    static LONG referenced = 7;
    if (type == VT_UI8) value.ullVal = 123;
    if (type == (VT_I4 | VT_BYREF)) value.plVal = &referenced;
    properties.push_back({name, value});
    return *this;
  }
  // Makes Get return this object (or any IUnknown) as the embedded PerfData.
  void HoldObject(IUnknown* object) {
    VariantClear(&getValue);
    getValue.vt = VT_UNKNOWN;
    getValue.punkVal = object;
    object->AddRef();
  }

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    getNames.push_back(name ? name : L"(null)");
    getFlags.push_back(flags);
    getTypeOrFlavorAsked |= type != nullptr || flavor != nullptr;
    if (getResult != S_OK) return getResult;
    VariantInit(value);  // as WMI does: whatever the value held is the caller's to have cleared
    for (FakeProperty& property : properties) {
      if (name != nullptr && property.name == name) return VariantCopy(value, &property.value);
    }
    return VariantCopy(value, &getValue);
  }
  HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG flags) override {
    beginFlags.push_back(flags);
    next_ = 0;
    return beginResult;
  }
  HRESULT STDMETHODCALLTYPE Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    nextFlags.push_back(flags);
    nextTypeOrFlavorAsked |= type != nullptr || flavor != nullptr;
    if (next_ >= properties.size()) return endOfDataResult;
    const FakeProperty& property = properties[next_++];
    *name = SysAllocStringLen(property.name.data(), static_cast<UINT>(property.name.size()));
    VariantInit(value);
    return VariantCopy(value, const_cast<VARIANT*>(&property.value));
  }
  HRESULT STDMETHODCALLTYPE EndEnumeration() override {
    ++endCalls;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }

 private:
  std::size_t next_ = 0;
};

// An object that is no WMI class object: it refuses IWbemClassObject.
class FakeOtherObject : public FakeUnknown<IUnknown> {};

// Hands out its instances one by one, then ends with endOfDataResult.
class FakeInstanceEnum : public FakeUnknown<IEnumWbemClassObject> {
 public:
  std::vector<IWbemClassObject*> instances;
  HRESULT endOfDataResult = static_cast<HRESULT>(WBEM_S_FALSE);
  std::vector<std::pair<LONG, ULONG>> nextCalls;  // timeout, count

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
    nextCalls.emplace_back(timeout, count);
    if (next_ >= instances.size() || count != 1) {
      *returned = 0;
      return endOfDataResult;
    }
    objects[0] = instances[next_++];
    objects[0]->AddRef();
    *returned = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return E_NOTIMPL; }

 private:
  std::size_t next_ = 0;
};

// Answers CreateInstanceEnum with its enumerator, or with a failure.
class FakeServices : public FakeUnknown<IWbemServices> {
 public:
  FakeInstanceEnum* instanceEnum = nullptr;
  HRESULT enumResult = S_OK;
  std::vector<std::wstring> enumClasses;
  std::vector<LONG> enumFlags;
  bool enumContextGiven = false;

  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR className, LONG flags, IWbemContext* context,
                                               IEnumWbemClassObject** instances) override {
    enumClasses.push_back(className ? std::wstring(className, SysStringLen(className)) : L"(null)");
    enumFlags.push_back(flags);
    enumContextGiven |= context != nullptr;
    *instances = nullptr;
    if (enumResult != S_OK) return enumResult;
    *instances = instanceEnum;
    instanceEnum->AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                          IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                  IEnumWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                       IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                       IWbemClassObject**, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                            IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
};

// Connects to nothing: waits as long as told, then returns what it is told,
// handing out services only when it has some.
class FakeLocator : public FakeUnknown<IWbemLocator> {
 public:
  HRESULT connectResult = S_OK;
  IWbemServices* servicesToGive = nullptr;
  DWORD connectDelayMs = 0;
  std::vector<std::wstring> namespaces;
  bool otherArgumentGiven = false;
  // Called inside ConnectServer, while the progress thread runs.
  void (*duringConnect)() = nullptr;

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR path, const BSTR user, const BSTR password, const BSTR locale,
                                          LONG securityFlags, const BSTR authority, IWbemContext* context,
                                          IWbemServices** services) override {
    namespaces.push_back(path ? std::wstring(path, SysStringLen(path)) : L"(null)");
    otherArgumentGiven |= user || password || locale || securityFlags != 0 || authority || context;
    if (duringConnect) duringConnect();
    Sleep(connectDelayMs);
    *services = servicesToGive;
    if (servicesToGive) servicesToGive->AddRef();
    return connectResult;
  }
};
