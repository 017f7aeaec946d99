#pragma once
// The camera viewer's Media Foundation helpers: its clock, its output lines,
// event reading and buffer locking.
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "viewer_core.h"

using Microsoft::WRL::ComPtr;

inline constexpr int64_t kEventWaitUs = 5'000'000;

// Microseconds since StartClock.
void StartClock();
int64_t NowUs();
// Microseconds of QueryPerformanceCounter itself: one clock for every
// process of a Wine prefix, so other programs' times compare directly.
int64_t QpcUs();
void SleepUntil(int64_t dueUs);
// A line that begins with the time in ms.
JsonLine Stamped();
void Emit(const JsonLine& line);
void Fail(const std::string& call, HRESULT hr);

VideoTypeInfo Describe(IMFMediaType* type);
// The FourCC of the video subtypes built on it, else the GUID.
std::string SubtypeName(IMFMediaType* type);

template <typename T>
T Export(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

template <typename T>
HRESULT EventObject(IMFMediaEvent* event, ComPtr<T>& object) {
  PROPVARIANT value;
  PropVariantInit(&value);
  HRESULT hr = event->GetValue(&value);
  if (SUCCEEDED(hr)) {
    hr = value.vt == VT_UNKNOWN && value.punkVal
             ? value.punkVal->QueryInterface(IID_PPV_ARGS(object.ReleaseAndGetAddressOf()))
             : E_NOINTERFACE;
  }
  PropVariantClear(&value);
  return hr;
}

struct Queue {
  IMFMediaEventGenerator* events;
  const char* name;
};

enum class Pump { kMore, kDone, kFailed };

// Reads the queues in turn without blocking, printing every event, until
// the handler has what it waits for. An event with a failed status ends
// the wait; so do 5 s without what is waited for.
template <typename Handler>
Pump PumpEvents(std::initializer_list<Queue> queues, const char* waitingFor, Handler handle) {
  int64_t giveUpUs = NowUs() + kEventWaitUs;
  for (;;) {
    bool any = false;
    for (const Queue& q : queues) {
      if (!q.events) continue;
      ComPtr<IMFMediaEvent> event;
      HRESULT hr = q.events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event);
      if (hr == MF_E_NO_EVENTS_AVAILABLE) continue;
      if (FAILED(hr)) {
        Fail(std::string("IMFMediaEventGenerator::GetEvent (") + q.name + ")", hr);
        return Pump::kFailed;
      }
      any = true;
      MediaEventType type = MEUnknown;
      HRESULT status = S_OK;
      (void)event->GetType(&type);
      (void)event->GetStatus(&status);
      Emit(Stamped().Str("queue", q.name).Str("event", EventName(type)).Str("status",
                                                                            HexStatus(static_cast<uint32_t>(status))));
      if (FAILED(status)) {
        Fail(EventName(type) + " (" + q.name + ")", status);
        return Pump::kFailed;
      }
      Pump step = handle(q, type, event.Get());
      if (step != Pump::kMore) return step;
    }
    if (NowUs() >= giveUpUs) {
      Fail(std::string("no ") + waitingFor + " within 5 s", MF_E_NO_EVENTS_AVAILABLE);
      return Pump::kFailed;
    }
    if (!any) Sleep(1);
  }
}

// Unlocks what Lock or Lock2D locked, on every way out.
class BufferLock {
 public:
  BufferLock() = default;
  BufferLock(const BufferLock&) = delete;
  BufferLock& operator=(const BufferLock&) = delete;
  ~BufferLock() {
    if (twoD_) (void)twoD_->Unlock2D();
    else if (plain_) (void)plain_->Unlock();
  }
  void Locked2D(IMF2DBuffer* b) { twoD_ = b; }
  void Locked(IMFMediaBuffer* b) { plain_ = b; }

 private:
  IMF2DBuffer* twoD_ = nullptr;
  IMFMediaBuffer* plain_ = nullptr;
};
