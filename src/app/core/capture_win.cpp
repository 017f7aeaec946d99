// "--captura": one state of the interface from sample data, drawn with the
// windows' own code into an off-screen bitmap and saved as PNG.
#include <windows.h>
#include <d2d1.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cwchar>

#include "../ui/image_io_win.h"
#include "../ui/painter_win.h"
#include "app.h"
#include "app_window.h"
#include "capture.h"
#include "notices.h"
#include "options.h"

using Microsoft::WRL::ComPtr;

namespace {

const char kSampleAddress[] = "orvane://pc?host=192.168.0.23&port=47800&code=735104&id=3f2a9c1e-7b4d-4e8a-9c61-2f0c8d4e5b17";

UiSnapshot SampleSnapshot(const qrcodegen::QrCode* qr) {
  const CommandLineOptions& o = g_options;
  UiSnapshot s;
  s.pairingCode = L"735104";
  s.qr = qr;
  s.pcName = L"QUON-PC";
  s.phoneName = L"iPhone de Quon";
  s.connected = o.estado == L"conectado" || o.estado == L"bandeja" || o.estado == L"pausa";
  s.paused = o.estado == L"pausa";
  if (o.estado == L"pendiente") s.pendingPhones.push_back(L"iPhone de Quon");
  s.width = 1920, s.height = 1080, s.fps = 60;
  static const int kSizes[3][2] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
  if (int r = QualityOptionResolution(o.calidad); r >= 0) s.width = kSizes[r][0], s.height = kSizes[r][1];
  if (o.calidad.find(L'@') != std::wstring::npos) s.fps = QualityOptionRate(o.calidad);
  s.latencyMs = 38;
  s.cpuPercent = 1.8;
  s.ramMb = 38.0;
  s.capsKnown = true;
  s.caps[0] = 3, s.caps[1] = 3, s.caps[2] = 1;
  s.pendingResolution = QualityOptionResolution(o.pedido);
  int pendingRate = QualityOptionRate(o.pedido);
  s.pendingFps = pendingRate == 30 ? 0 : pendingRate == 60 ? 1 : -1;
  if (!o.hover.empty()) s.hoverId = static_cast<int32_t>(std::wcstol(o.hover.c_str(), nullptr, 10));
  s.qualityMenuOpen = o.menu;
  s.moreMenuOpen = o.mas;
  s.focusSupported = s.blurSupported = !o.sinFoco;
  s.focusModes = 7;
  s.focusMode = o.foco == L"auto" ? 1 : o.foco == L"manual" ? 2 : 0;
  s.focusValue = o.focoValor;
  s.faces = o.caras;
  s.blurValue = o.fondo;
  s.cameraReady = true;
  s.microphoneOn = true;
  s.samplePicture = true;
  s.roundedFrame = true;
  // "--aviso": what the window says when something outside keeps it from working.
  NoticeInputs in;
  in.connected = s.connected;
  in.firewallBlocks = o.aviso == L"red";
  in.camerasDenied = o.aviso == L"permiso";
  in.camera = o.aviso == L"windows"    ? CameraProblem::NotWindows11
              : o.aviso == L"registro" ? CameraProblem::NotRegistered
              : o.aviso == L"camara"   ? CameraProblem::Failed
                                       : CameraProblem::None;
  in.cameraResult = 0x80070005;
  const Notice notice = ChooseNotice(in);
  s.noticeMessage = notice.message;
  s.noticeAction = notice.action;
  return s;
}

}  // namespace

int RunCaptureMode() {
  const float scale = g_options.escala;
  const bool icon = g_options.estado == L"icono", panel = g_options.estado == L"bandeja";
  const float w = icon ? 32.0f : panel ? 300.0f : 380.0f, h = icon ? 32.0f : panel ? 312.0f : 560.0f;

  // A scale no picture can be made at is refused before any size is worked
  // out from it (beyond the integers, the conversion would be meaningless).
  constexpr float kMaxSide = 16384.0f;
  WicCanvas canvas;
  if (!(w * scale >= 1.0f && h * scale >= 1.0f && w * scale <= kMaxSide && h * scale <= kMaxSide) ||
      !MakeWicCanvas(g_app.d2dFactory.Get(), static_cast<unsigned>(w * scale), static_cast<unsigned>(h * scale),
                     96 * scale, &canvas)) {
    return 2;
  }
  IWICImagingFactory* wic = canvas.wic.Get();
  ID2D1RenderTarget* target = canvas.target.Get();

  auto qr = qrcodegen::QrCode::encodeText(kSampleAddress, qrcodegen::QrCode::Ecc::LOW);
  UiSnapshot snapshot = SampleSnapshot(&qr);
  ComPtr<ID2D1Bitmap> picture;
  if (!g_options.cuadro.empty()) picture = LoadImageBitmap(wic, g_options.cuadro, target);
  snapshot.preview = picture.Get();

  Painter painter(g_app.d2dFactory.Get(), g_app.dwriteFactory.Get());
  painter.UseTarget(target);
  HitList hits;
  target->BeginDraw();
  if (icon) {
    DrawTrayIcon(painter, 32, 0x3DDC84);
  } else if (panel) {
    DrawPanel(painter, snapshot, &hits);
  } else {
    DrawMainWindow(painter, snapshot, &hits);
  }
  HRESULT drawn = target->EndDraw();
  if (TakeSimulatedFault().find("dibujo") != std::string::npos) drawn = D2DERR_RECREATE_TARGET;
  if (FAILED(drawn)) return 3;
  return SaveBitmapPng(wic, canvas.bitmap.Get(), g_options.captura) ? 0 : 4;
}
