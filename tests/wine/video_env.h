#pragma once
// What the video tests share: Media Foundation started once for the whole
// test program, a message-only window to receive the pipeline's posts, and
// pictures read back from a texture or a PNG file.
#include <gtest/gtest.h>
#include <windows.h>
#include <d3d11.h>
#include <mfapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>
#include <vector>

class MediaFoundation : public ::testing::Environment {
 public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_LITE);
  }
};
inline const auto* const kMediaFoundation = ::testing::AddGlobalTestEnvironment(new MediaFoundation);

inline HWND MessageWindow() {
  WNDCLASSW c{};
  c.lpfnWndProc = DefWindowProcW;
  c.hInstance = GetModuleHandleW(nullptr);
  c.lpszClassName = L"OrvaneVideoTest";
  RegisterClassW(&c);  // fails harmlessly once registered
  return CreateWindowW(L"OrvaneVideoTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
}

// A texture's BGRA pixels, rows packed, through a staging copy.
inline std::vector<uint8_t> ReadTexture(ID3D11Device* device, ID3D11Texture2D* texture, D3D11_TEXTURE2D_DESC* desc) {
  texture->GetDesc(desc);
  D3D11_TEXTURE2D_DESC staging = *desc;
  staging.Usage = D3D11_USAGE_STAGING;
  staging.BindFlags = 0;
  staging.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> copy;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
  device->GetImmediateContext(&context);
  std::vector<uint8_t> pixels;
  if (FAILED(device->CreateTexture2D(&staging, nullptr, &copy))) return pixels;
  context->CopyResource(copy.Get(), texture);
  D3D11_MAPPED_SUBRESOURCE mapped{};
  if (FAILED(context->Map(copy.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return pixels;
  pixels.resize(static_cast<size_t>(desc->Width) * desc->Height * 4);
  for (UINT row = 0; row < desc->Height; ++row) {
    memcpy(&pixels[static_cast<size_t>(row) * desc->Width * 4], static_cast<uint8_t*>(mapped.pData) + row * mapped.RowPitch,
           desc->Width * 4);
  }
  context->Unmap(copy.Get(), 0);
  return pixels;
}

// The PNG's size and BGRA pixels, through WIC.
inline bool ReadPng(const std::wstring& path, UINT* width, UINT* height, std::vector<uint8_t>* bgra) {
  Microsoft::WRL::ComPtr<IWICImagingFactory> wic;
  Microsoft::WRL::ComPtr<IWICBitmapDecoder> decoder;
  Microsoft::WRL::ComPtr<IWICBitmapFrameDecode> frame;
  Microsoft::WRL::ComPtr<IWICFormatConverter> converter;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wic))) ||
      FAILED(wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnLoad,
                                            &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(wic->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(width, height))) {
    return false;
  }
  bgra->resize(static_cast<size_t>(*width) * *height * 4);
  return SUCCEEDED(converter->CopyPixels(nullptr, *width * 4, static_cast<UINT>(bgra->size()), bgra->data()));
}
