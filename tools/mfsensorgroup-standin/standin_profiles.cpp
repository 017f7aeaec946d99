// Sensor profiles and their collection. Their code lives in this library:
// a process that unloads it while one of them is alive crashes at the next
// call into it, as it would with Windows' own library.
#include <new>
#include <utility>
#include <vector>

#include "standin.h"

using Microsoft::WRL::ComPtr;

namespace {

// The frame-rate terms of a filter, "FRT<=30,1" or "FRT>=60,1"; the other
// terms (RES, SUT) are accepted as written.
bool RateAllowed(const std::wstring& filter, UINT32 numerator, UINT32 denominator) {
  for (size_t at = filter.find(L"FRT"); at != std::wstring::npos; at = filter.find(L"FRT", at + 3)) {
    const wchar_t* p = filter.c_str() + at + 3;
    std::wstring op(p, p + 2);
    unsigned long limitNumerator = 0, limitDenominator = 1;
    if (swscanf(p + 2, L"%lu,%lu", &limitNumerator, &limitDenominator) < 1 || limitDenominator == 0) continue;
    if (denominator == 0) return false;
    // rate <=> limit, both as fractions
    unsigned long long rate = static_cast<unsigned long long>(numerator) * limitDenominator;
    unsigned long long limit = static_cast<unsigned long long>(limitNumerator) * denominator;
    if ((op == L"<=" && rate > limit) || (op == L">=" && rate < limit) || (op == L"==" && rate != limit)) {
      return false;
    }
  }
  return true;
}

class Profile final : public Counted<IMFSensorProfile> {
 public:
  Profile(REFGUID type, UINT32 index) : id_{type, index, 0} {}

  STDMETHODIMP GetProfileId(SENSORPROFILEID* id) override {
    if (!id) return E_POINTER;
    *id = id_;
    return S_OK;
  }
  STDMETHODIMP AddProfileFilter(UINT32 streamId, LPCWSTR filterSet) override {
    HRESULT hr = filterSet && *filterSet ? S_OK : E_INVALIDARG;
    if (SUCCEEDED(hr)) {
      Locked lock(lock_);
      filters_.emplace_back(streamId, filterSet);
    }
    StandinLog("AddProfileFilter %s/%u stream=%u filter=%s -> 0x%08x", GuidText(id_.Type).c_str(), id_.Index, streamId,
               Utf8(filterSet).c_str(), Hex(hr));
    return hr;
  }
  // Only the frame rate is judged: a type is supported when the stream has
  // a filter and the type's rate meets every rate term of it.
  STDMETHODIMP IsMediaTypeSupported(UINT32 streamId, IMFMediaType* type, BOOL* supported) override {
    if (!type || !supported) return E_POINTER;
    UINT32 numerator = 0, denominator = 0;
    (void)MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator);
    bool any = false, all = true;
    {
      Locked lock(lock_);
      for (const auto& [stream, filter] : filters_) {
        if (stream != streamId) continue;
        any = true;
        all = all && RateAllowed(filter, numerator, denominator);
      }
    }
    *supported = any && all;
    StandinLog("IsMediaTypeSupported %s/%u stream=%u rate=%u/%u -> %s", GuidText(id_.Type).c_str(), id_.Index,
               streamId, numerator, denominator, *supported ? "yes" : "no");
    return S_OK;
  }
  STDMETHODIMP AddBlockedControl(LPCWSTR blockedControl) override {
    HRESULT hr = blockedControl ? S_OK : E_INVALIDARG;
    StandinLog("AddBlockedControl %s/%u control=%s -> 0x%08x", GuidText(id_.Type).c_str(), id_.Index,
               Utf8(blockedControl).c_str(), Hex(hr));
    return hr;
  }

 private:
  ~Profile() override = default;
  SENSORPROFILEID id_;
  SlimLock lock_;
  std::vector<std::pair<UINT32, std::wstring>> filters_;
};

bool SameId(const SENSORPROFILEID& a, const SENSORPROFILEID& b) { return a.Type == b.Type && a.Index == b.Index; }

class Collection final : public Counted<IMFSensorProfileCollection> {
 public:
  STDMETHODIMP_(DWORD) GetProfileCount() override {
    Locked lock(lock_);
    return static_cast<DWORD>(profiles_.size());
  }
  STDMETHODIMP GetProfile(DWORD index, IMFSensorProfile** profile) override {
    if (!profile) return E_POINTER;
    *profile = nullptr;
    HRESULT hr = E_INVALIDARG;
    {
      Locked lock(lock_);
      if (index < profiles_.size()) {
        *profile = ComPtr<IMFSensorProfile>(profiles_[index]).Detach();
        hr = S_OK;
      }
    }
    StandinLog("GetProfile %lu -> 0x%08x", index, Hex(hr));
    return hr;
  }
  STDMETHODIMP AddProfile(IMFSensorProfile* profile) override {
    HRESULT hr = S_OK;
    SENSORPROFILEID id{};
    if (!profile) {
      hr = E_POINTER;
    } else if (SUCCEEDED(hr = profile->GetProfileId(&id))) {
      Locked lock(lock_);
      for (const auto& p : profiles_) {
        SENSORPROFILEID other{};
        if (SUCCEEDED(p->GetProfileId(&other)) && SameId(id, other)) hr = E_INVALIDARG;
      }
      if (SUCCEEDED(hr)) profiles_.emplace_back(profile);
    }
    StandinLog("AddProfile %s/%u -> 0x%08x", GuidText(id.Type).c_str(), id.Index, Hex(hr));
    return hr;
  }
  STDMETHODIMP FindProfile(SENSORPROFILEID* id, IMFSensorProfile** profile) override {
    if (!id || !profile) return E_POINTER;
    *profile = nullptr;
    HRESULT hr = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    {
      Locked lock(lock_);
      for (const auto& p : profiles_) {
        SENSORPROFILEID other{};
        if (SUCCEEDED(p->GetProfileId(&other)) && SameId(*id, other)) {
          *profile = ComPtr<IMFSensorProfile>(p).Detach();
          hr = S_OK;
          break;
        }
      }
    }
    StandinLog("FindProfile %s/%u -> 0x%08x", GuidText(id->Type).c_str(), id->Index, Hex(hr));
    return hr;
  }
  STDMETHODIMP_(void) RemoveProfileByIndex(DWORD index) override {
    StandinLog("RemoveProfileByIndex %lu", index);
    Locked lock(lock_);
    if (index < profiles_.size()) profiles_.erase(profiles_.begin() + index);
  }
  STDMETHODIMP_(void) RemoveProfile(SENSORPROFILEID* id) override {
    if (!id) return;
    StandinLog("RemoveProfile %s/%u", GuidText(id->Type).c_str(), id->Index);
    Locked lock(lock_);
    for (size_t i = 0; i < profiles_.size(); ++i) {
      SENSORPROFILEID other{};
      if (SUCCEEDED(profiles_[i]->GetProfileId(&other)) && SameId(*id, other)) {
        profiles_.erase(profiles_.begin() + static_cast<ptrdiff_t>(i));
        return;
      }
    }
  }

 private:
  ~Collection() override = default;
  SlimLock lock_;
  std::vector<ComPtr<IMFSensorProfile>> profiles_;
};

}  // namespace

HRESULT NewSensorProfile(REFGUID type, UINT32 index, const wchar_t*, IMFSensorProfile** profile) {
  *profile = new (std::nothrow) Profile(type, index);
  return *profile ? S_OK : E_OUTOFMEMORY;
}

HRESULT NewSensorProfileCollection(IMFSensorProfileCollection** collection) {
  *collection = new (std::nothrow) Collection;
  return *collection ? S_OK : E_OUTOFMEMORY;
}
