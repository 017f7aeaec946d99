// The QR code as Direct2D draws it: every module where the code says, in
// the same square at every scale, with the white card around it.
#include <gtest/gtest.h>
#include <windows.h>
#include <d2d1.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/ui/qr_draw.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Canvas {
  UINT width, height;
  std::vector<uint8_t> bgra;
  const uint8_t* At(float xDip, float yDip, float m) const {
    UINT x = static_cast<UINT>(xDip * m), y = static_cast<UINT>(yDip * m);
    return &bgra[(static_cast<size_t>(y) * width + x) * 4];
  }
};

// The 380-DIP-wide top of the no-phone view: grey, the white card, the code.
Canvas Draw(const qrcodegen::QrCode& code, float m) {
  Canvas canvas{static_cast<UINT>(380 * m), static_cast<UINT>(300 * m), {}};
  ComPtr<IWICImagingFactory> wic;
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1RenderTarget> target;
  ComPtr<ID2D1SolidColorBrush> white, dark;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wic))) ||
      FAILED(wic->CreateBitmap(canvas.width, canvas.height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                               &bitmap)) ||
      FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, factory.GetAddressOf())) ||
      FAILED(factory->CreateWicBitmapRenderTarget(
          bitmap.Get(),
          D2D1::RenderTargetProperties(D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                       D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
                                       96, 96),
          &target))) {
    return canvas;
  }
  target->CreateSolidColorBrush(D2D1::ColorF(0xFFFFFF), &white);
  target->CreateSolidColorBrush(D2D1::ColorF(0x0B0C0E), &dark);
  target->BeginDraw();
  target->SetTransform(D2D1::Matrix3x2F::Scale(m, m));
  target->Clear(D2D1::ColorF(0x23262C));
  target->FillRectangle(D2D1::RectF(112, 95, 268, 251), white.Get());
  DrawQrModules(target.Get(), &code, dark.Get());
  if (FAILED(target->EndDraw())) return canvas;
  canvas.bgra.resize(static_cast<size_t>(canvas.width) * canvas.height * 4);
  WICRect all = {0, 0, static_cast<INT>(canvas.width), static_cast<INT>(canvas.height)};
  bitmap->CopyPixels(&all, canvas.width * 4, static_cast<UINT>(canvas.bgra.size()), canvas.bgra.data());
  return canvas;
}

bool Dark(const uint8_t* p) { return p[0] < 0x30 && p[1] < 0x30 && p[2] < 0x30; }
bool White(const uint8_t* p) { return p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF; }

TEST(QrDraw, EveryModuleWhereTheCodeSaysAtEveryScale) {
  for (const char* address : {"orvane://pc", "orvane://pc?host=192.168.1.20&port=47801&code=042917&id="
                                              "0123abcd-0000-4000-8000-0123456789ab"}) {
    auto code = qrcodegen::QrCode::encodeText(address, qrcodegen::QrCode::Ecc::LOW);
    const int n = code.getSize();
    for (float m : {1.0f, 1.5f, 2.0f}) {
      Canvas canvas = Draw(code, m);
      ASSERT_FALSE(canvas.bgra.empty());
      int wrong = 0;
      for (int r = 0; r < n; ++r) {
        for (int x = 0; x < n; ++x) {
          float cx = (QrModuleEdge(kQrLeft, x, n, m) + QrModuleEdge(kQrLeft, x + 1, n, m)) / 2;
          float cy = (QrModuleEdge(kQrTop, r, n, m) + QrModuleEdge(kQrTop, r + 1, n, m)) / 2;
          const uint8_t* p = canvas.At(cx, cy, m);
          if (code.getModule(x, r) ? !Dark(p) : !White(p)) ++wrong;
        }
      }
      EXPECT_EQ(wrong, 0) << n << " modules at scale " << m;
      // The card's 10-DIP margin stays white: the quiet zone.
      EXPECT_TRUE(White(canvas.At(117, 100, m)));
      EXPECT_TRUE(White(canvas.At(263, 246, m)));
      EXPECT_FALSE(White(canvas.At(110, 93, m))) << "outside the card";
    }
  }
}

}  // namespace
