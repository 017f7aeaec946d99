// The main window's frame: the header and the no-phone view; the tray icon
// picture.
#include <algorithm>

#include "controls_win.h"
#include "painter_win.h"
#include "qr_draw.h"

namespace {

D2D1_RECT_F Box(float l, float t, float r, float b) { return D2D1::RectF(l, t, r, b); }

void DrawHeader(Painter& p, const UiSnapshot& s, HitList* hits) {
  p.Fill(Box(1, 40, 379, 41), 0, 0x1A1C20);
  p.Wordmark(15, 12, 64, 18);
  bool minimize = s.hoverId == 1, close = s.hoverId == 2;
  if (minimize) p.Fill(Box(293, 5, 333, 37), 6, 0x1F2228);
  p.DrawIcon(Icon::Minimize, 306, 14, 14, minimize ? 0xF2F3F5 : 0x9AA0AA, 2);
  if (close) p.Fill(Box(333, 5, 373, 37), 6, 0xC42B1C);
  p.DrawIcon(Icon::Close, 346, 14, 14, close ? 0xFFFFFF : 0x9AA0AA, 2);
  hits->Add(293, 5, 333, 37, 1);
  hits->Add(333, 5, 373, 37, 2);
  if (!s.connected) return;
  bool more = s.moreMenuOpen || s.hoverId == 40;
  if (more) p.Fill(Box(253, 5, 293, 37), 6, 0x1F2228);
  uint32_t dots = s.moreMenuOpen ? 0xC8F04A : s.hoverId == 40 ? 0xF2F3F5 : 0x9AA0AA;
  for (float x : {267.0f, 273.0f, 279.0f}) p.Circle(x, 21, 1.9f, dots);
  hits->Add(253, 5, 293, 37, 40);
}

void DrawNoPhoneView(Painter& p, const UiSnapshot& s, HitList* hits) {
  p.Fill(Box(112, 95, 268, 251), 14, 0xF2F3F5);
  DrawQrModules(p.Target(), s.qr, p.Brush(0x0B0C0E));
  p.Text(SpacedPairingCode(s.pairingCode), Box(3.04f, 271, 381.04f, 315), 0xC8F04A, 34, 700, Align::Centre, true,
         4.08f);
  DrawNotice(p, s, Box(17, 329, 363, 361), 12, hits);

  const int count = static_cast<int>(s.pendingPhones.size());
  for (const PendingRow& row : PendingRows(count)) {
    const float t = row.top, b = row.bottom;
    p.Fill(Box(25, t, 355, b), 14, 0x16181C);
    p.Fill(Box(37, t + 10, 73, t + 46), 10, 0x1F2228);
    p.DrawIcon(Icon::Phone, 46, t + 19, 18, 0xC8F04A, 2);
    const float width = p.Measure(L"Conectar", 13, 700) + 24;
    const D2D1_RECT_F button = Box(343 - width, t + 12, 343, t + 44);
    p.Fill(button, 16, 0xC8F04A);
    if (s.hoverId == 100 + row.index) p.Fill(button, 16, 0xFFFFFF, 0.18f);
    p.Text(L"Conectar", button, 0x0B0C0E, 13, 700, Align::Centre);
    p.Text(s.pendingPhones[static_cast<size_t>(row.index)], Box(85, t, button.left - 8, b), 0xF2F3F5, 14, 600,
           Align::Leading);
    hits->Add(25, t, 355, b, 100 + row.index);
  }

  const std::wstring searching = L"Buscando en tu Wi-Fi\u2026";
  if (count == 0) {
    const float w = p.Measure(searching, 12, 400);
    const float x0 = (380 - w - 15) / 2;
    p.Circle(x0 + 3.5f, 521.5f, 3.5f, 0xC8F04A);
    p.Text(searching, Box(x0 + 15, 514, x0 + 15 + w + 4, 529), 0x9AA0AA, 12, 400, Align::Leading);
  } else {
    const float m = static_cast<float>(std::min(count, 2));
    const float y0 = 537 - 56 * m - 8 * (m - 1);
    p.Circle(28.5f, y0 - 15.5f, 3.5f, 0xC8F04A);
    p.Text(searching, Box(40, y0 - 23, 355, y0 - 8), 0x9AA0AA, 12, 400, Align::Leading);
  }
}

// Drawing clipped to a rounded rectangle for as long as it lives. Wine
// ignores a layer's geometric mask, so the rectangle at least holds there.
class RoundedClip {
 public:
  RoundedClip(Painter& p, const D2D1_RECT_F& area, float radius) : target_(p.Target()) {
    ID2D1Geometry* clip = p.RoundedGeometry(area, radius);
    ID2D1Layer* layer = p.ClipLayer();
    if (!clip || !layer) return;
    target_->PushLayer(D2D1::LayerParameters(D2D1::InfiniteRect(), clip), layer);
    target_->PushAxisAlignedClip(area, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    pushed_ = true;
  }
  ~RoundedClip() {
    if (!pushed_) return;
    target_->PopAxisAlignedClip();
    target_->PopLayer();
  }
  RoundedClip(const RoundedClip&) = delete;
  RoundedClip& operator=(const RoundedClip&) = delete;
  bool Pushed() const { return pushed_; }

 private:
  ID2D1RenderTarget* target_;
  bool pushed_ = false;
};

// The screenshot mode's stand-in for a camera picture: a person before a
// wall, drawn in R-local units under a scale by k.
void DrawSampleScene(Painter& p, const D2D1_RECT_F& r, float k) {
  ID2D1RenderTarget* target = p.Target();
  p.Fill(r, 12 * k, 0x262B33);
  RoundedClip clip(p, r, 12 * k);
  if (!clip.Pushed()) return;
  D2D1_MATRIX_3X2_F saved;
  target->GetTransform(&saved);
  target->SetTransform(D2D1::Matrix3x2F::Scale(k, k) * D2D1::Matrix3x2F::Translation(r.left, r.top) * saved);
  const float w = (r.right - r.left) / k, h = (r.bottom - r.top) / k;
  p.Fill(Box(22, 18, 92, 102), 4, 0x3B4452);
  p.Fill(Box(w - 90, 46, w - 26, 51), 2, 0x3A3128);
  p.Circle(w / 2, 74, 22, 0xC79A7A);
  p.Fill(Box(w / 2 - 22, 49, w / 2 + 22, 68), 5, 0x2B2420);
  if (ID2D1SolidColorBrush* hair = p.Brush(0x2B2420)) {
    target->FillEllipse(D2D1::Ellipse(D2D1::Point2F(w / 2, 62), 22, 13), hair);
  }
  p.Fill(Box(w / 2 - 52, 104, w / 2 + 52, h + 40), 44, 0x4E5B6E);
  p.Fill(Box(0, h - 30, w, h), 0, 0x17191D);
  target->SetTransform(saved);
}

}  // namespace

void DrawPreviewArea(Painter& p, const UiSnapshot& s, const D2D1_RECT_F& area, float radius, float sceneScale) {
  ID2D1RenderTarget* target = p.Target();
  if (s.preview) {
    RoundedClip clip(p, area, radius);
    if (clip.Pushed()) target->DrawBitmap(s.preview, area, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
  } else if (s.samplePicture) {
    DrawSampleScene(p, area, sceneScale);
  } else {
    p.Fill(area, radius, 0x262B33);
    p.Text(s.connected ? L"Esperando la imagen\u2026" : L"Sin celu conectado", area, 0x9AA0AA, 12, 400,
           Align::Centre);
  }
}

namespace {

void DrawConnectedView(Painter& p, const UiSnapshot& s, HitList* hits) {
  DrawPreviewArea(p, s, Box(17, 57, 363, 253), 12, 1);
  const float badge = DrawBadge(p, 17, 263, s.paused);
  const std::wstring delay = DelayText(s.latencyMs);
  const float x = 17 + badge + 10;
  const float nameWidth = std::min(p.Measure(s.phoneName, 12, 400), 363 - x - p.Measure(delay, 12, 400) - 8);
  p.Text(s.phoneName, Box(x, 263, x + nameWidth, 283), 0xC4C8CF, 12, 400, Align::Leading);
  p.Text(delay, Box(x + nameWidth + 6, 263, 363, 283), 0x9AA0AA, 12, 400, Align::Leading);

  p.Fill(Box(17, 295, 363, 465), 12, 0x16181C);
  p.Fill(Box(17, 338, 363, 339), 0, 0x23262C);
  p.Fill(Box(17, 420, 363, 421), 0, 0x23262C);
  p.Text(L"Calidad", Box(29, 295, 140, 339), 0xC4C8CF, 13, 400, Align::Leading);
  const D2D1_RECT_F pill = DrawQualityPill(p, s, 357, 305, 24, 13, true, hits);
  p.Text(L"Foco", Box(29, 339, 140, 383), 0xC4C8CF, 13, 400, Align::Leading);
  static const wchar_t* const kFocus[] = {L"Cara", L"Auto", L"Manual"};
  DrawSegmented(p, Box(147, 346, 351, 376), kFocus, 3, s.focusMode, s.focusSupported, s.focusModes, 41,
                s.focusMode == 0 && s.faces > 0, s.hoverId, hits);
  DrawSlider(p, 97, 313, 398, s.focusValue, s.focusMode == 2, s.focusSupported, 45, s, hits);
  p.Text(L"Fondo", Box(29, 421, 90, 465), 0xC4C8CF, 13, 400, Align::Leading);
  DrawSlider(p, 97, 313, 443, s.blurValue, true, s.blurSupported, 46, s, hits);
  DrawNotice(p, s, Box(17, 471, 363, 501), 12, hits);

  const float disconnectWidth = p.Measure(L"Desconectar", 13, 600) + 24;
  const std::wstring pause = s.paused ? L"Seguir" : L"Pausar";
  const float pauseWidth = p.Measure(pause, 13, 600) + 24;
  const D2D1_RECT_F disconnect = Box(363 - disconnectWidth, 507, 363, 543);
  const D2D1_RECT_F pauseBox = Box(disconnect.left - 10 - pauseWidth, 507, disconnect.left - 10, 543);
  DrawButton(p, pauseBox, 10, 0x1F2228, pause, 0xF2F3F5, 600, s.hoverId == 6);
  DrawButton(p, disconnect, 10, 0x1F2228, L"Desconectar", 0xFF6B5E, 600, s.hoverId == 7);
  hits->Add(pauseBox.left, pauseBox.top, pauseBox.right, pauseBox.bottom, 6);
  hits->Add(disconnect.left, disconnect.top, disconnect.right, disconnect.bottom, 7);

  p.Text(L"CPU", Box(17, 507, 57, 543), 0x9AA0AA, 12, 400, Align::Leading);
  const float x1 = 17 + p.Measure(L"CPU ", 12, 400);
  const std::wstring cpu = FormatLoad(s.cpuPercent) + L" %";
  p.Text(cpu, Box(x1, 507, x1 + 60, 543), 0xC8F04A, 12, 700, Align::Leading);
  const float x2 = x1 + p.Measure(cpu, 12, 700) + 12;
  p.Text(L"RAM", Box(x2, 507, x2 + 40, 543), 0x9AA0AA, 12, 400, Align::Leading);
  const float x3 = x2 + p.Measure(L"RAM ", 12, 400);
  p.Text(RamText(s.ramMb), Box(x3, 507, x3 + 60, 543), 0xC8F04A, 12, 700, Align::Leading);

  if (s.qualityMenuOpen) {
    const float mx = std::clamp(pill.right - 196, 0.0f, 380.0f - 196), my = std::min(pill.bottom + 6, 560.0f - 82);
    DrawQualityMenu(p, s, mx, my, 380, 560, hits);
  }
  if (s.moreMenuOpen) DrawMoreMenu(p, s, hits);
}

}  // namespace

void DrawWindowBackground(Painter& p, const UiSnapshot& s, float width, float height) {
  ID2D1RenderTarget* target = p.Target();
  if (s.roundedFrame) {
    target->Clear(D2D1::ColorF(0, 0, 0, 0));
    p.Fill(Box(0, 0, width, height), 14, 0x23262C);
    p.Fill(Box(1, 1, width - 1, height - 1), 13, 0x0B0C0E);
  } else {
    target->Clear(D2D1::ColorF(0x0B0C0E));
  }
}

void DrawMainWindow(Painter& p, const UiSnapshot& s, HitList* hits) {
  hits->Clear();
  DrawWindowBackground(p, s, 380, 560);
  DrawHeader(p, s, hits);
  if (s.connected) {
    DrawConnectedView(p, s, hits);
  } else {
    DrawNoPhoneView(p, s, hits);
  }
}

void DrawTrayIcon(Painter& p, float size, uint32_t status) {
  const float u = size / 256;
  p.Target()->Clear(D2D1::ColorF(0, 0, 0, 0));
  p.Fill(Box(44 * u, 28 * u, 88 * u, 228 * u), 22 * u, 0xF2F3F5);
  p.Circle(168 * u, 181 * u, 47 * u, 0xC8F04A);
  if (status != 0) {
    const float d = 0.19f * size;
    p.Circle(size - d - 0.5f, d + 0.5f, d + 0.06f * size, 0x101216);
    p.Circle(size - d - 0.5f, d + 0.5f, d, status);
  }
}
