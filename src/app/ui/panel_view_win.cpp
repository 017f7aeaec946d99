// The floating panel: state, preview, phone or pairing code, quality, and
// three buttons.
#include <algorithm>

#include "controls_win.h"
#include "painter_win.h"

namespace {

D2D1_RECT_F Box(float l, float t, float r, float b) { return D2D1::RectF(l, t, r, b); }

void DrawLoadLine(Painter& p, const UiSnapshot& s) {
  float x = 14;
  p.Text(L"CPU ", Box(x, 284.5f, x + 100, 298), 0x9AA0AA, 11, 400, Align::Leading);
  x += p.Measure(L"CPU ", 11, 400);
  const std::wstring cpu = FormatLoad(s.cpuPercent) + L" %";
  p.Text(cpu, Box(x, 284.5f, x + 100, 298), 0xC8F04A, 11, 700, Align::Leading);
  x += p.Measure(cpu, 11, 700);
  const std::wstring ram = L" \u00B7 RAM ";
  p.Text(ram, Box(x, 284.5f, x + 100, 298), 0x9AA0AA, 11, 400, Align::Leading);
  x += p.Measure(ram, 11, 400);
  p.Text(RamText(s.ramMb), Box(x, 284.5f, x + 100, 298), 0xC8F04A, 11, 700, Align::Leading);
}

}  // namespace

void DrawPanel(Painter& p, const UiSnapshot& s, HitList* hits) {
  hits->Clear();
  DrawWindowBackground(p, s, 300, 312);
  p.Wordmark(14, 15, 64, 18);
  if (s.connected) {
    DrawBadge(p, 286, 14, s.paused, true);
  } else {
    const float w = p.Measure(L"ESPERANDO", 11, 700, false, 0.44f);
    const D2D1_RECT_F plate = Box(286 - w - 16, 14, 286, 34);
    p.Fill(plate, 6, 0x3A3E46);
    p.Text(L"ESPERANDO", plate, 0xC4C8CF, 11, 700, Align::Centre, false, 0.44f);
  }
  DrawPreviewArea(p, s, Box(14, 45.5f, 286, 197.5f), 10, 272.0f / 346.0f);

  // The panel's quality pill has its own hover and menu, carried in the same snapshot fields.
  D2D1_RECT_F pill{};
  if (s.connected) {
    p.Circle(17.5f, 217, 3.5f, s.paused ? 0x9AA0AA : 0x3DDC84);
    const float nameWidth = std::min(p.Measure(s.phoneName, 12, 400), 110.0f);
    p.Text(s.phoneName, Box(29, 209.5f, 29 + nameWidth, 224.5f), 0xC4C8CF, 12, 400, Align::Leading);
    pill = DrawQualityPill(p, s, 29 + nameWidth + 4, 205, 24, 12, false, hits);
    if (s.latencyMs >= 0) {
      p.Text(L"\u00B7  " + std::to_wstring(s.latencyMs) + L" ms", Box(pill.right + 2, 209.5f, 286, 224.5f), 0xC4C8CF,
             12, 400, Align::Leading);
    }
  } else {
    p.Circle(17.5f, 217, 3.5f, 0xC8F04A);
    p.Text(L"C\u00F3digo " + SpacedPairingCode(s.pairingCode), Box(29, 209.5f, 286, 224.5f), 0xC4C8CF, 12, 400,
           Align::Leading);
  }

  const float third = 260.0f / 3;
  const D2D1_RECT_F open = Box(14, 236.5f, 14 + third, 272.5f);
  const D2D1_RECT_F pause = Box(20 + third, 236.5f, 20 + 2 * third, 272.5f);
  const D2D1_RECT_F last = Box(26 + 2 * third, 236.5f, 286, 272.5f);
  DrawButton(p, open, 9, 0xC8F04A, L"Abrir", 0x0B0C0E, 700, s.hoverId == 8);
  DrawButton(p, pause, 9, 0x1F2228, s.paused ? L"Seguir" : L"Pausar", s.connected ? 0xF2F3F5 : 0x3A3E46, 600,
             s.connected && s.hoverId == 9);
  DrawButton(p, last, 9, 0x1F2228, s.connected ? L"Cortar" : L"Salir", 0xFF6B5E, 600, s.hoverId == 10);
  hits->Add(open.left, open.top, open.right, open.bottom, 8);
  if (s.connected) hits->Add(pause.left, pause.top, pause.right, pause.bottom, 9);
  hits->Add(last.left, last.top, last.right, last.bottom, 10);

  // A notice takes the load line's place.
  if (s.noticeMessage.empty()) {
    DrawLoadLine(p, s);
  } else {
    DrawNotice(p, s, Box(14, 279, 286, 304), 11, hits);
  }

  if (s.connected && s.qualityMenuOpen) DrawQualityMenu(p, s, std::min(pill.left, 90.0f), pill.top - 6 - 82, 300, 312, hits);
}
