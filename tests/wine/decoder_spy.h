#pragma once
// The system's H.264 decoder with a spy in front: it counts the inputs the
// pipeline offers and can refuse one with MF_E_NOTACCEPTING, as a decoder
// whose output is full does, or take seconds over one, as a decoder that is
// slow to start does. Everything else goes to the real decoder.
#include <windows.h>
#include <mferror.h>
#include <mftransform.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <atomic>
#include <utility>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class DecoderSpy final : public IMFTransform {
 public:
  // What the pipeline asked, in order: 'I' an input (its sample, not
  // held), 'R' an input refused, 'O' an output. One thread at a time.
  struct Record {
    int refusals = 0;  // inputs still to refuse
    DWORD stallMs = 0;  // the next input takes this long, once
    std::atomic<bool> stalled{false};  // that input has been handed on
    std::vector<std::pair<char, IMFSample*>> events;
    size_t Inputs() const {
      size_t n = 0;
      for (const auto& e : events) n += e.first != 'O';
      return n;
    }
  };
  static Record* record;  // set by the test

  static HRESULT Create(IMFTransform** out) {
    Microsoft::WRL::ComPtr<IMFTransform> real;
    HRESULT hr = CoCreateInstance(CLSID_CMSH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&real));
    if (FAILED(hr)) return hr;
    *out = new DecoderSpy(real);
    return S_OK;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFTransform)) {
      *out = static_cast<IMFTransform*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;  // no ICodecAPI: the pipeline does without
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetStreamLimits(DWORD* a, DWORD* b, DWORD* c, DWORD* d) override {
    return real_->GetStreamLimits(a, b, c, d);
  }
  STDMETHODIMP GetStreamCount(DWORD* a, DWORD* b) override { return real_->GetStreamCount(a, b); }
  STDMETHODIMP GetStreamIDs(DWORD a, DWORD* b, DWORD c, DWORD* d) override { return real_->GetStreamIDs(a, b, c, d); }
  STDMETHODIMP GetInputStreamInfo(DWORD a, MFT_INPUT_STREAM_INFO* b) override {
    return real_->GetInputStreamInfo(a, b);
  }
  STDMETHODIMP GetOutputStreamInfo(DWORD a, MFT_OUTPUT_STREAM_INFO* b) override {
    return real_->GetOutputStreamInfo(a, b);
  }
  STDMETHODIMP GetAttributes(IMFAttributes** a) override { return real_->GetAttributes(a); }
  STDMETHODIMP GetInputStreamAttributes(DWORD a, IMFAttributes** b) override {
    return real_->GetInputStreamAttributes(a, b);
  }
  STDMETHODIMP GetOutputStreamAttributes(DWORD a, IMFAttributes** b) override {
    return real_->GetOutputStreamAttributes(a, b);
  }
  STDMETHODIMP DeleteInputStream(DWORD a) override { return real_->DeleteInputStream(a); }
  STDMETHODIMP AddInputStreams(DWORD a, DWORD* b) override { return real_->AddInputStreams(a, b); }
  STDMETHODIMP GetInputAvailableType(DWORD a, DWORD b, IMFMediaType** c) override {
    return real_->GetInputAvailableType(a, b, c);
  }
  STDMETHODIMP GetOutputAvailableType(DWORD a, DWORD b, IMFMediaType** c) override {
    return real_->GetOutputAvailableType(a, b, c);
  }
  STDMETHODIMP SetInputType(DWORD a, IMFMediaType* b, DWORD c) override { return real_->SetInputType(a, b, c); }
  STDMETHODIMP SetOutputType(DWORD a, IMFMediaType* b, DWORD c) override { return real_->SetOutputType(a, b, c); }
  STDMETHODIMP GetInputCurrentType(DWORD a, IMFMediaType** b) override { return real_->GetInputCurrentType(a, b); }
  STDMETHODIMP GetOutputCurrentType(DWORD a, IMFMediaType** b) override {
    return real_->GetOutputCurrentType(a, b);
  }
  STDMETHODIMP GetInputStatus(DWORD a, DWORD* b) override { return real_->GetInputStatus(a, b); }
  STDMETHODIMP GetOutputStatus(DWORD* a) override { return real_->GetOutputStatus(a); }
  STDMETHODIMP SetOutputBounds(LONGLONG a, LONGLONG b) override { return real_->SetOutputBounds(a, b); }
  STDMETHODIMP ProcessEvent(DWORD a, IMFMediaEvent* b) override { return real_->ProcessEvent(a, b); }
  STDMETHODIMP ProcessMessage(MFT_MESSAGE_TYPE a, ULONG_PTR b) override { return real_->ProcessMessage(a, b); }
  STDMETHODIMP ProcessInput(DWORD stream, IMFSample* sample, DWORD flags) override {
    if (record && record->refusals > 0) {
      --record->refusals;
      record->events.emplace_back('R', sample);
      return MF_E_NOTACCEPTING;
    }
    if (record) record->events.emplace_back('I', sample);
    if (record && record->stallMs > 0) {
      Sleep(std::exchange(record->stallMs, 0));
      record->stalled = true;
    }
    return real_->ProcessInput(stream, sample, flags);
  }
  STDMETHODIMP ProcessOutput(DWORD a, DWORD b, MFT_OUTPUT_DATA_BUFFER* c, DWORD* d) override {
    if (record) record->events.emplace_back('O', nullptr);
    return real_->ProcessOutput(a, b, c, d);
  }

 private:
  explicit DecoderSpy(Microsoft::WRL::ComPtr<IMFTransform> real) : real_(std::move(real)) {}
  ~DecoderSpy() = default;
  std::atomic<ULONG> refs_{1};
  Microsoft::WRL::ComPtr<IMFTransform> real_;
};
#pragma GCC diagnostic pop

inline DecoderSpy::Record* DecoderSpy::record = nullptr;
