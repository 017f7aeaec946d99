// The main window's frame: the header and the no-phone view; the tray icon
// picture.
#include <algorithm>

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

}  // namespace

void DrawMainWindow(Painter& p, const UiSnapshot& s, HitList* hits) {
  hits->Clear();
  ID2D1RenderTarget* target = p.Target();
  if (s.roundedFrame) {
    target->Clear(D2D1::ColorF(0, 0, 0, 0));
    p.Fill(Box(0, 0, 380, 560), 14, 0x23262C);
    p.Fill(Box(1, 1, 379, 559), 13, 0x0B0C0E);
  } else {
    target->Clear(D2D1::ColorF(0x0B0C0E));
  }
  DrawHeader(p, s, hits);
  if (!s.connected) DrawNoPhoneView(p, s, hits);
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
