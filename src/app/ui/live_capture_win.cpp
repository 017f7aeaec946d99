#include "live_capture_win.h"

#include <wincodec.h>

#include <vector>

#include "../../common/text_win.h"
#include "../core/log.h"
#include "../video/video_pipeline.h"
#include "image_io_win.h"

using Microsoft::WRL::ComPtr;

bool CaptureLiveWindow(const std::wstring& path, UiSnapshot snapshot, float dpi, VideoPipeline& video,
                       ID2D1Factory1* d2d, IDWriteFactory* dwrite, ID2D1Multithread* lock) {
  ComPtr<ID3D11Texture2D> texture;
  uint64_t generation = 0;
  video.GetPreview(&texture, &generation);
  if (!texture) return false;
  D3D11_TEXTURE2D_DESC desc{};
  texture->GetDesc(&desc);
  desc.Usage = D3D11_USAGE_STAGING;
  desc.BindFlags = 0;
  desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  desc.MiscFlags = 0;
  ComPtr<ID3D11Texture2D> staging;
  // The texture's own device: the windows may already be on a newer one.
  ComPtr<ID3D11Device> device;
  texture->GetDevice(&device);
  if (FAILED(device->CreateTexture2D(&desc, nullptr, &staging))) return false;

  std::vector<uint8_t> pixels(static_cast<size_t>(desc.Width) * desc.Height * 4);
  bool copied = false;
  if (lock) lock->Enter();
  ComPtr<ID3D11DeviceContext> context;
  device->GetImmediateContext(&context);
  context->CopyResource(staging.Get(), texture.Get());
  D3D11_MAPPED_SUBRESOURCE mapped{};
  if (SUCCEEDED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) {
    for (UINT row = 0; row < desc.Height; ++row) {
      memcpy(&pixels[static_cast<size_t>(row) * desc.Width * 4], static_cast<uint8_t*>(mapped.pData) + row * mapped.RowPitch,
             desc.Width * 4);
    }
    context->Unmap(staging.Get(), 0);
    copied = true;
  }
  if (lock) lock->Leave();
  if (!copied) return false;
  for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;

  const float d = dpi / 96.0f;
  WicCanvas canvas;
  ComPtr<ID2D1Bitmap> preview;
  bool saved = false;
  const D2D1_PIXEL_FORMAT format = D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED);
  if (MakeWicCanvas(d2d, static_cast<unsigned>(380 * d), static_cast<unsigned>(560 * d), dpi, &canvas) &&
      SUCCEEDED(canvas.target->CreateBitmap(D2D1::SizeU(desc.Width, desc.Height), pixels.data(), desc.Width * 4,
                                            D2D1::BitmapProperties(format, 96, 96), &preview))) {
    snapshot.preview = preview.Get();
    snapshot.roundedFrame = true;
    Painter painter(d2d, dwrite);
    painter.UseTarget(canvas.target.Get());
    HitList hits;
    canvas.target->BeginDraw();
    DrawMainWindow(painter, snapshot, &hits);
    saved = SUCCEEDED(canvas.target->EndDraw()) && SaveBitmapPng(canvas.wic.Get(), canvas.bitmap.Get(), path);
  }
  LogLine("Captura en vivo %s: %s", WideToUtf8(path).c_str(), saved ? "ok" : "ERROR");
  return saved;
}
