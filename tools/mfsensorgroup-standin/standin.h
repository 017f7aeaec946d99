#pragma once
// A stand-in of our own for mfsensorgroup.dll, for tests and the demo under
// Wine, which lacks that library. It offers what the camera's two sides
// call: the virtual camera, whose Start plays the Frame Server's part in a
// process of its own, and sensor profiles with their collection.
//
// Every call is one line in the file named by MFSG_STANDIN_LOG, beginning
// with the process id, so tests can read the order of the calls of every
// process that loaded the library.
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <atomic>
#include <string>

#include "cam/cam_com_win.h"
#include "common/win_missing.h"
#include "../standin_text.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

extern HMODULE g_standin;

// Appends one line (printf format, no newline) to the call log.
void StandinLog(const char* format, ...);
std::string GuidText(REFGUID guid);
// A failure asked for by the test: while the file named by MFSG_STANDIN_FAIL
// exists and reads "<call> 0x<HRESULT>" ("create" or "start"), that call
// fails with it; S_OK otherwise.
HRESULT RequestedFailure(const char* call);
inline unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// A COM object of one interface, counted, deleted by its last Release.
template <typename Interface>
class Counted : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != __uuidof(Interface)) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<Interface*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

HRESULT NewVirtualCamera(MFVirtualCameraLifetime lifetime, MFVirtualCameraAccess access, const wchar_t* name,
                         const wchar_t* sourceId, IMFVirtualCamera** camera);
HRESULT NewSensorProfile(REFGUID type, UINT32 index, const wchar_t* constraints, IMFSensorProfile** profile);
HRESULT NewSensorProfileCollection(IMFSensorProfileCollection** collection);
