// The QR code as Direct2D draws it: every module where the code says, in
// the same square at every scale, with the white card around it; and the
// clickable regions as the main window's own drawing makes them.
#include <gtest/gtest.h>
#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/ui/controls_win.h"
#include "app/ui/painter_win.h"
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

// A 96-DPI render target over a new WIC bitmap of that size; null when
// any of it cannot be made.
struct Surface {
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1RenderTarget> target;
};
Surface NewSurface(UINT width, UINT height) {
  Surface out;
  ComPtr<IWICImagingFactory> wic;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wic))) ||
      FAILED(wic->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, &out.bitmap)) ||
      FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, out.factory.GetAddressOf())) ||
      FAILED(out.factory->CreateWicBitmapRenderTarget(
          out.bitmap.Get(),
          D2D1::RenderTargetProperties(D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                       D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
                                       96, 96),
          &out.target))) {
    out.target.Reset();
  }
  return out;
}

// The 380-DIP-wide top of the no-phone view: grey, the white card, the code.
Canvas Draw(const qrcodegen::QrCode& code, float m) {
  Canvas canvas{static_cast<UINT>(380 * m), static_cast<UINT>(300 * m), {}};
  Surface surface = NewSurface(canvas.width, canvas.height);
  ID2D1RenderTarget* target = surface.target.Get();
  if (!target) return canvas;
  ComPtr<ID2D1SolidColorBrush> white, dark;
  target->CreateSolidColorBrush(D2D1::ColorF(0xFFFFFF), &white);
  target->CreateSolidColorBrush(D2D1::ColorF(0x0B0C0E), &dark);
  target->BeginDraw();
  target->SetTransform(D2D1::Matrix3x2F::Scale(m, m));
  target->Clear(D2D1::ColorF(0x23262C));
  target->FillRectangle(D2D1::RectF(112, 95, 268, 251), white.Get());
  DrawQrModules(target, &code, dark.Get());
  if (FAILED(target->EndDraw())) return canvas;
  canvas.bgra.resize(static_cast<size_t>(canvas.width) * canvas.height * 4);
  WICRect all = {0, 0, static_cast<INT>(canvas.width), static_cast<INT>(canvas.height)};
  surface.bitmap->CopyPixels(&all, canvas.width * 4, static_cast<UINT>(canvas.bgra.size()), canvas.bgra.data());
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

// The main window drawn into a bitmap; its regions as the frame made them.
HitList DrawnRegions(const UiSnapshot& s) {
  HitList hits;
  Surface surface = NewSurface(380, 560);
  ComPtr<IDWriteFactory> dwrite;
  if (!surface.target || FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                                    reinterpret_cast<IUnknown**>(dwrite.GetAddressOf())))) {
    return hits;
  }
  ID2D1RenderTarget* target = surface.target.Get();
  Painter painter(surface.factory.Get(), dwrite.Get());
  painter.UseTarget(target);
  target->BeginDraw();
  DrawMainWindow(painter, s, &hits);
  EXPECT_HRESULT_SUCCEEDED(target->EndDraw());
  return hits;
}

TEST(DrawnRegions, AnOpenMenuTakesEveryClickAndTheNoticeIsClickableOnlyWithAnAction) {
  UiSnapshot s;
  s.connected = true;
  s.phoneName = L"iPhone de prueba";
  s.width = 1280, s.height = 720, s.fps = 30;
  HitList closed = DrawnRegions(s);
  ASSERT_FALSE(closed.Regions().empty());
  EXPECT_EQ(closed.Hit(273, 21), 40) << "the more button";
  EXPECT_EQ(closed.Hit(340, 525), 7) << "Desconectar";

  s.moreMenuOpen = true;
  HitList open = DrawnRegions(s);
  EXPECT_EQ(open.Hit(273, 21), 40) << "the more button closes its menu";
  EXPECT_EQ(open.Hit(318, 68), 4) << "the microphone row";
  EXPECT_EQ(open.Hit(245, 112), 5) << "the mirror row";
  EXPECT_EQ(open.Hit(200, 156), 3) << "the camera row";
  for (auto [x, y] : {std::pair{340.0f, 525.0f}, {225.0f, 525.0f}, {313.0f, 21.0f}, {353.0f, 21.0f}, {60.0f, 317.0f}}) {
    EXPECT_EQ(open.Hit(x, y), 12) << "beneath the menu, (" << x << ", " << y << ") only closes it";
  }

  // The notice: above the buttons while connected, under the code without a phone.
  s.moreMenuOpen = false;
  s.noticeMessage = L"No se cre\u00F3 Orvane Cam (0x80070005)";
  s.noticeAction = L"Reintentar";
  EXPECT_EQ(DrawnRegions(s).Hit(190, 486), kNoticeId);
  s.connected = false;
  s.pairingCode = L"123456";
  EXPECT_EQ(DrawnRegions(s).Hit(190, 345), kNoticeId);
  s.noticeAction.clear();
  EXPECT_EQ(DrawnRegions(s).Hit(190, 345), 0) << "nothing to click without an action";
}

}  // namespace
