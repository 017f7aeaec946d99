// The class factory and the activation object the Frame Server creates
// through it.
#include <new>

#include "cam_objects_win.h"

using Microsoft::WRL::ComPtr;

STDMETHODIMP Fabrica::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IClassFactory) return Answer(static_cast<IClassFactory*>(this), out);
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Fabrica::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP Fabrica::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* activator = new (std::nothrow) Activador;
  if (!activator) return E_OUTOFMEMORY;
  HRESULT hr = activator->Initialize();
  if (SUCCEEDED(hr)) hr = activator->QueryInterface(iid, out);
  activator->Release();
  return hr;
}

STDMETHODIMP Fabrica::LockServer(BOOL lock) {
  if (lock) {
    ++g_locks;
    return S_OK;
  }
  // An unlock without its lock must not keep the DLL loaded for good.
  long locks = g_locks.load();
  while (locks > 0 && !g_locks.compare_exchange_weak(locks, locks - 1)) {
  }
  return S_OK;
}

HRESULT Activador::Initialize() {
  HRESULT hr = MFCreateAttributes(&attributes_, 4);
  if (FAILED(hr)) return hr;
  attributes_->SetUINT32(kMfVirtualCameraProvideAssociatedCameraSources, 1);
  attributes_->SetGUID(kMftTransformClsidAttribute, kCameraClsid);
  // The source is made at once, so a failure shows at creation.
  Locked lock(lock_);
  return NewSource();
}

HRESULT Activador::NewSource() {
  auto* source = new (std::nothrow) Fuente;
  if (!source) return E_OUTOFMEMORY;
  HRESULT hr = source->Initialize(attributes_.Get());
  if (FAILED(hr)) {
    source->Release();
    return hr;
  }
  source_ = source;
  return S_OK;
}

Activador::~Activador() {
  if (source_) source_->Release();
}

STDMETHODIMP Activador::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IMFAttributes || iid == IID_IMFActivate) {
    return Answer(static_cast<IMFActivate*>(this), out);
  }
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Activador::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP Activador::ActivateObject(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  Locked lock(lock_);
  if (!source_) {
    HRESULT hr = NewSource();
    if (FAILED(hr)) return hr;
  }
  return source_->QueryInterface(iid, out);
}

STDMETHODIMP Activador::DetachObject() {
  Fuente* source = nullptr;
  {
    Locked lock(lock_);
    source = source_;
    source_ = nullptr;
  }
  if (source) source->Release();
  return S_OK;
}
