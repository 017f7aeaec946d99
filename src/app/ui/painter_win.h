#pragma once
// The drawing layer of the windows, the tray icon and the captures: what
// one frame shows (UiSnapshot), and the per-target drawing context
// (Painter) with its brush and text-format caches.
#include <d2d1_1.h>
#include <dwrite.h>
#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "qr_display.h"
#include "ui_layout.h"

struct UiSnapshot {
  bool connected = false;
  std::wstring pairingCode;
  const qrcodegen::QrCode* qr = nullptr;
  std::wstring pcName;
  std::vector<std::wstring> pendingPhones;
  std::wstring phoneName;
  int32_t width = 0, height = 0, fps = 0;
  int32_t latencyMs = -1;
  bool paused = false;
  bool microphoneOn = false;
  bool mirrorOn = false;
  bool copiedRecently = false;
  bool cameraReady = false;
  double cpuPercent = 0;
  double ramMb = 0;
  ID2D1Bitmap* preview = nullptr;
  bool samplePicture = false;
  int32_t hoverId = 0;
  bool capsKnown = false;
  uint8_t caps[3] = {0, 0, 0};
  int32_t pendingResolution = -1;
  int32_t pendingFps = -1;
  bool qualityMenuOpen = false;
  bool roundedFrame = false;
  bool focusSupported = false;
  uint8_t focusModes = 0;
  int32_t focusMode = 0;
  float focusValue = 0.5f;
  int32_t faces = 0;
  bool blurSupported = false;
  float blurValue = 0;
  bool moreMenuOpen = false;
  int32_t draggedId = 0;
  // What keeps a phone or the camera from working, and the words of its
  // action (empty when there is nothing to click); no message, no notice.
  std::wstring noticeMessage, noticeAction;
};

enum class Icon { Minimize, Close, Copy, Check, Phone, Chevron };
enum class Align { Leading, Centre, Trailing };

class Painter {
 public:
  Painter(ID2D1Factory* d2d, IDWriteFactory* dwrite) : d2d_(d2d), dwrite_(dwrite) {}
  // A different target empties the brush cache.
  void UseTarget(ID2D1RenderTarget* target);
  ID2D1RenderTarget* Target() const { return target_; }

  ID2D1SolidColorBrush* Brush(uint32_t rgb, float alpha = 1.0f);
  IDWriteTextFormat* Format(float size, int weight, bool display);
  // The width of the text as drawn, trailing white space included; 0 when
  // no layout can be made.
  float Measure(const std::wstring& text, float size, int weight, bool display = false, float spacing = 0);
  void Text(const std::wstring& text, const D2D1_RECT_F& box, uint32_t rgb, float size, int weight, Align align,
            bool display = false, float spacing = 0, float alpha = 1.0f);
  void DrawIcon(Icon icon, float x, float y, float size, uint32_t rgb, float stroke);
  void Circle(float cx, float cy, float radius, uint32_t rgb, float alpha = 1.0f);
  void Fill(const D2D1_RECT_F& box, float radius, uint32_t rgb, float alpha = 1.0f);
  // The product's wordmark fitted into a box: open strokes and the accent dot.
  void Wordmark(float x, float y, float width, float height);
  // The rounded rectangle the preview is clipped to, and a layer of this
  // target to clip with: both kept while they fit, not made every frame.
  ID2D1Geometry* RoundedGeometry(const D2D1_RECT_F& area, float radius);
  ID2D1Layer* ClipLayer();

 private:
  Microsoft::WRL::ComPtr<IDWriteTextLayout> Layout(const std::wstring& text, float size, int weight, bool display,
                                                    float spacing, float maxWidth, float maxHeight);
  void ChooseFamilies();

  ID2D1Factory* d2d_;
  IDWriteFactory* dwrite_;
  ID2D1RenderTarget* target_ = nullptr;
  std::map<uint64_t, Microsoft::WRL::ComPtr<ID2D1SolidColorBrush>> brushes_;
  std::map<uint64_t, Microsoft::WRL::ComPtr<IDWriteTextFormat>> formats_;
  Microsoft::WRL::ComPtr<ID2D1RoundedRectangleGeometry> clipGeometry_;
  D2D1_ROUNDED_RECT clipShape_{};
  Microsoft::WRL::ComPtr<ID2D1Layer> clipLayer_;  // of target_
  std::wstring textFamily_, displayFamily_;
};

// The main window, 380 x 560 DIP; refills the hit list.
void DrawMainWindow(Painter& painter, const UiSnapshot& snapshot, HitList* hits);
// The floating panel, 300 x 312 DIP; refills the hit list.
void DrawPanel(Painter& painter, const UiSnapshot& snapshot, HitList* hits);
// The tray icon picture into a transparent s x s target; no dot when status is 0.
void DrawTrayIcon(Painter& painter, float size, uint32_t status);
