#pragma once
// What the camera DLL's classes share: the module's counters, a small lock,
// and the IMFAttributes methods that three classes forward to a store.
//
// This code runs inside the Frame Server, where a crash takes every camera
// of the PC down: nothing here throws, and allocations use nothrow new.
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <atomic>

#include "../common/win_missing.h"

// The DLL's COM objects are only ever destroyed by their own Release, never
// through an interface pointer.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

inline constexpr GUID kCameraClsid = {0x7c1e5a2b, 0x4d3f, 0x4b8e, {0x9a, 0x61, 0x2f, 0x0c, 0x8d, 0x4e, 0x5b, 0x17}};

extern HMODULE g_module;
extern std::atomic<long> g_objects;  // Fabrica, Activador, Fuente and Flujo alive
extern std::atomic<long> g_locks;    // IClassFactory::LockServer

// Counts one live object of the module for as long as it lives. Each class
// names it as its first base, so it is destroyed last: the count drops only
// once the object's members, and the base classes' queue and attribute store,
// have been released, and DllCanUnloadNow never answers S_OK while code of
// this DLL still has something to release.
struct ModuleObject {
  ModuleObject() { ++g_objects; }
  ~ModuleObject() { --g_objects; }
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;
};

// A lock that needs no initialisation and cannot fail.
class SlimLock {
 public:
  void Enter() { AcquireSRWLockExclusive(&lock_); }
  void Leave() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class Locked {
 public:
  explicit Locked(SlimLock& lock) : lock_(lock) { lock_.Enter(); }
  ~Locked() { lock_.Leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SlimLock& lock_;
};

// The 30 IMFAttributes methods, forwarded to attributes_.
template <typename Interface>
class ForwardAttributes : public Interface {
 public:
  STDMETHODIMP GetItem(REFGUID key, PROPVARIANT* value) override { return attributes_->GetItem(key, value); }
  STDMETHODIMP GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override {
    return attributes_->GetItemType(key, type);
  }
  STDMETHODIMP CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override {
    return attributes_->CompareItem(key, value, result);
  }
  STDMETHODIMP Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) override {
    return attributes_->Compare(theirs, type, result);
  }
  STDMETHODIMP GetUINT32(REFGUID key, UINT32* value) override { return attributes_->GetUINT32(key, value); }
  STDMETHODIMP GetUINT64(REFGUID key, UINT64* value) override { return attributes_->GetUINT64(key, value); }
  STDMETHODIMP GetDouble(REFGUID key, double* value) override { return attributes_->GetDouble(key, value); }
  STDMETHODIMP GetGUID(REFGUID key, GUID* value) override { return attributes_->GetGUID(key, value); }
  STDMETHODIMP GetStringLength(REFGUID key, UINT32* length) override {
    return attributes_->GetStringLength(key, length);
  }
  STDMETHODIMP GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override {
    return attributes_->GetString(key, value, size, length);
  }
  STDMETHODIMP GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override {
    return attributes_->GetAllocatedString(key, value, length);
  }
  STDMETHODIMP GetBlobSize(REFGUID key, UINT32* size) override { return attributes_->GetBlobSize(key, size); }
  STDMETHODIMP GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* written) override {
    return attributes_->GetBlob(key, buffer, size, written);
  }
  STDMETHODIMP GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override {
    return attributes_->GetAllocatedBlob(key, buffer, size);
  }
  STDMETHODIMP GetUnknown(REFGUID key, REFIID iid, LPVOID* object) override {
    return attributes_->GetUnknown(key, iid, object);
  }
  STDMETHODIMP SetItem(REFGUID key, REFPROPVARIANT value) override { return attributes_->SetItem(key, value); }
  STDMETHODIMP DeleteItem(REFGUID key) override { return attributes_->DeleteItem(key); }
  STDMETHODIMP DeleteAllItems() override { return attributes_->DeleteAllItems(); }
  STDMETHODIMP SetUINT32(REFGUID key, UINT32 value) override { return attributes_->SetUINT32(key, value); }
  STDMETHODIMP SetUINT64(REFGUID key, UINT64 value) override { return attributes_->SetUINT64(key, value); }
  STDMETHODIMP SetDouble(REFGUID key, double value) override { return attributes_->SetDouble(key, value); }
  STDMETHODIMP SetGUID(REFGUID key, REFGUID value) override { return attributes_->SetGUID(key, value); }
  STDMETHODIMP SetString(REFGUID key, LPCWSTR value) override { return attributes_->SetString(key, value); }
  STDMETHODIMP SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override {
    return attributes_->SetBlob(key, buffer, size);
  }
  STDMETHODIMP SetUnknown(REFGUID key, IUnknown* value) override { return attributes_->SetUnknown(key, value); }
  STDMETHODIMP LockStore() override { return attributes_->LockStore(); }
  STDMETHODIMP UnlockStore() override { return attributes_->UnlockStore(); }
  STDMETHODIMP GetCount(UINT32* count) override { return attributes_->GetCount(count); }
  STDMETHODIMP GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override {
    return attributes_->GetItemByIndex(index, key, value);
  }
  STDMETHODIMP CopyAllItems(IMFAttributes* destination) override { return attributes_->CopyAllItems(destination); }

 protected:
  ForwardAttributes() = default;
  ~ForwardAttributes() = default;
  // Made at initialisation, before the object is handed out.
  Microsoft::WRL::ComPtr<IMFAttributes> attributes_;
};

// Hands out `object` as `iid` with a new reference.
template <typename T>
HRESULT Answer(T* object, void** out) {
  object->AddRef();
  *out = object;
  return S_OK;
}
