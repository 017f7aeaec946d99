#include "controls_win.h"

#include <algorithm>

namespace {

D2D1_RECT_F Box(float l, float t, float r, float b) { return D2D1::RectF(l, t, r, b); }

// A 1.2-wide line through a text that is there but not on offer.
void StrikeThrough(Painter& p, const D2D1_RECT_F& cell, const std::wstring& text, float size, int weight) {
  const float w = p.Measure(text, size, weight);
  const float mid = (cell.left + cell.right) / 2, y = (cell.top + cell.bottom) / 2 + 0.5f;
  p.Fill(Box(mid - w / 2 - 2, y - 0.6f, mid + w / 2 + 2, y + 0.6f), 0, 0x3A3E46);
}

void DrawOptionCell(Painter& p, const D2D1_RECT_F& cell, const std::wstring& text, const CellLook& look, bool testing,
                    int32_t id, int32_t hoverId, std::vector<HitRegion>* regions) {
  const D2D1_RECT_F inner = Box(cell.left + 2, cell.top + 2, cell.right - 2, cell.bottom - 2);
  uint32_t colour = look.available ? 0xC4C8CF : 0x3A3E46;
  if (look.selected) {
    p.Fill(inner, 6, 0xC8F04A);
    colour = 0x0B0C0E;
  } else if (look.pending) {
    if (ID2D1SolidColorBrush* lime = p.Brush(0xC8F04A)) {
      p.Target()->DrawRoundedRectangle(
          D2D1::RoundedRect(Box(cell.left + 2.75f, cell.top + 2.75f, cell.right - 2.75f, cell.bottom - 2.75f), 5.25f,
                            5.25f),
          lime, 1.5f);
    }
    colour = 0xC8F04A;
  }
  if (look.available && !look.selected && hoverId == id) p.Fill(inner, 6, 0xFFFFFF, 0.07f);
  p.Text(text, cell, colour, 12, 600, Align::Centre);
  if (testing && look.struck) StrikeThrough(p, cell, text, 12, 600);
  if (look.clickable) regions->push_back({cell.left, cell.top, cell.right, cell.bottom, id});
}

}  // namespace

float DrawBadge(Painter& p, float x, float y, bool paused, bool rightAligned) {
  const std::wstring text = paused ? L"EN PAUSA" : L"EN VIVO";
  const float w = p.Measure(text, 11, 700, false, 0.44f) + 19 + 8;
  if (rightAligned) x -= w;
  p.Fill(Box(x, y, x + w, y + 20), 6, paused ? 0x3A3E46 : 0xFF4438);
  p.Circle(x + 11, y + 10, 3, 0xFFFFFF);
  p.Text(text, Box(x + 19, y, x + w, y + 20), 0xFFFFFF, 11, 700, Align::Leading, false, 0.44f);
  return w;
}

void DrawButton(Painter& p, const D2D1_RECT_F& box, float radius, uint32_t face, const std::wstring& text,
                uint32_t textColour, int weight, bool hovered) {
  p.Fill(box, radius, face);
  if (hovered) p.Fill(box, radius, 0xFFFFFF, 0.06f);
  p.Text(text, box, textColour, 13, weight, Align::Centre);
}

D2D1_RECT_F DrawQualityPill(Painter& p, const UiSnapshot& s, float x, float top, float height, float fontSize,
                            bool bright, HitList* hits) {
  const std::wstring label = QualityLabel(s.width, s.height, s.fps);
  const int weight = bright ? 600 : 400;
  const float w = p.Measure(label, fontSize, weight);
  const float width = w + 28, left = bright ? x - width : x;
  const D2D1_RECT_F pill = Box(left, top, left + width, top + height);
  if (s.qualityMenuOpen || s.hoverId == 11) p.Fill(pill, 6, 0x1F2228);
  p.Text(label, Box(left + 7, top, left + 9 + w, top + height), bright ? 0xF2F3F5 : 0xC4C8CF, fontSize, weight,
         Align::Leading);
  p.DrawIcon(Icon::Chevron, left + 11 + w, top + (height - 12) / 2, 12, s.qualityMenuOpen ? 0xC8F04A : 0x9AA0AA,
             2.4f);
  if (s.connected) hits->Add(pill.left, pill.top, pill.right, pill.bottom, 11);
  return pill;
}

void DrawSegmented(Painter& p, const D2D1_RECT_F& box, const wchar_t* const* items, int count, int selected,
                   bool supported, uint8_t mask, int firstId, bool check, int32_t hoverId, HitList* hits) {
  p.Fill(box, 8, 0x0B0C0E);
  const float step = (box.right - box.left) / static_cast<float>(count);
  for (int i = 0; i < count; ++i) {
    const float x0 = box.left + step * static_cast<float>(i), x1 = x0 + step;
    const D2D1_RECT_F inner = Box(x0 + 2, box.top + 2, x1 - 2, box.bottom - 2);
    const CellLook look = SegmentFor(i, supported, mask, selected);
    uint32_t colour = look.available ? 0xC4C8CF : 0x3A3E46;
    if (look.selected) {
      p.Fill(inner, 6, 0xC8F04A);
      colour = 0x0B0C0E;
    } else if (look.available && hoverId == firstId + i) {
      p.Fill(inner, 6, 0xFFFFFF, 0.07f);
    }
    D2D1_RECT_F textBox = Box(x0, box.top, x1, box.bottom);
    if (look.selected && check) {
      textBox.left -= 7.5f, textBox.right -= 7.5f;
      const float w = p.Measure(items[i], 12, 600);
      const float middle = (box.top + box.bottom) / 2;
      p.DrawIcon(Icon::Check, (textBox.left + textBox.right) / 2 + w / 2 + 3, middle - 6, 12, 0x0B0C0E, 3);
    }
    p.Text(items[i], textBox, colour, 12, 600, Align::Centre);
    if (look.struck) StrikeThrough(p, textBox, items[i], 12, 600);
    if (look.clickable) hits->Add(x0, box.top, x1, box.bottom, firstId + i);
  }
}

void DrawSlider(Painter& p, float x0, float x1, float y, float value, bool enabled, bool supported, int32_t id,
                const UiSnapshot& s, HitList* hits) {
  const SliderLook look = SliderFor(value, enabled, supported);
  p.Fill(Box(x0, y - 2, x1, y + 2), 2, 0x3A3E46, supported ? 1.0f : 0.5f);
  if (supported) {
    const float position = x0 + (x1 - x0) * look.value;
    if (position > x0 + 0.5f) p.Fill(Box(x0, y - 2, position, y + 2), 2, enabled ? 0xC8F04A : 0x9AA0AA);
    if (enabled) {
      if (s.draggedId == id || s.hoverId == id) p.Circle(position, y, 12, 0xC8F04A, 0.18f);
      p.Circle(position, y, 7, 0xF2F3F5);
    }
  }
  p.Text(look.text, Box(x1 + 8, y - 10, 351, y + 10), look.brightText ? 0xF2F3F5 : 0x9AA0AA, 12, 600,
         Align::Trailing);
  if (look.clickable) hits->Add(x0 - 8, y - 14, x1, y + 14, id);
}

void DrawSwitch(Painter& p, float x, float y, bool on) {
  p.Fill(Box(x, y, x + 44, y + 26), 13, on ? 0xC8F04A : 0x3A3E46);
  p.Circle(on ? x + 31 : x + 13, y + 13, 10, 0xF2F3F5);
}

void DrawQualityMenu(Painter& p, const UiSnapshot& s, float x, float y, float windowWidth, float windowHeight,
                     HitList* hits) {
  p.Fill(Box(x - 1, y + 1, x + 197, y + 86), 13, 0x000000, 0.35f);
  p.Fill(Box(x - 1, y - 1, x + 197, y + 83), 13, 0x23262C);
  p.Fill(Box(x, y, x + 196, y + 82), 12, 0x16181C);
  p.Fill(Box(x + 8, y + 8, x + 188, y + 38), 8, 0x0B0C0E);
  p.Fill(Box(x + 8, y + 44, x + 188, y + 74), 8, 0x0B0C0E);
  QualityState q;
  q.connected = s.connected;
  q.capsKnown = s.capsKnown;
  for (int i = 0; i < 3; ++i) q.caps[i] = s.caps[i];
  q.width = s.width, q.height = s.height, q.fps = s.fps;
  q.pendingResolution = s.pendingResolution;
  q.pendingRate = s.pendingFps;
  const bool testing = s.connected && s.capsKnown;
  std::vector<HitRegion> regions;
  static const wchar_t* const kResolutions[] = {L"720p", L"1080p", L"4K"};
  for (int i = 0; i < 3; ++i) {
    const float left = x + 8 + 60.0f * static_cast<float>(i);
    DrawOptionCell(p, Box(left, y + 8, left + 60, y + 38), kResolutions[i], ResolutionCellFor(i, q), testing, 20 + i,
                   s.hoverId, &regions);
  }
  for (int j = 0; j < 2; ++j) {
    const float left = x + 8 + 90.0f * static_cast<float>(j);
    DrawOptionCell(p, Box(left, y + 44, left + 90, y + 74), j ? L"60 fps" : L"30 fps", RateCellFor(j, q), testing,
                   30 + j, s.hoverId, &regions);
  }
  regions.push_back({0, 0, windowWidth, windowHeight, 12});
  hits->InsertFront(regions);
}

void DrawMoreMenu(Painter& p, const UiSnapshot& s, HitList* hits) {
  p.Fill(Box(126, 43, 364, 186), 13, 0x000000, 0.35f);
  p.Fill(Box(126, 41, 364, 183), 13, 0x23262C);
  p.Fill(Box(127, 42, 363, 182), 12, 0x16181C);
  p.Fill(Box(139, 89.5f, 351, 90.5f), 0, 0x23262C);
  p.Fill(Box(139, 133.5f, 351, 134.5f), 0, 0x23262C);
  p.Text(L"Micr\u00F3fono del celu", Box(141, 46, 301, 90), 0xC4C8CF, 13, 400, Align::Leading);
  DrawSwitch(p, 307, 55, s.microphoneOn);
  p.Text(L"Espejar imagen", Box(141, 90, 301, 134), 0xC4C8CF, 13, 400, Align::Leading);
  DrawSwitch(p, 307, 99, s.mirrorOn);
  p.Text(L"Orvane Cam", Box(141, 134, 307, 178), s.cameraReady ? 0xF2F3F5 : 0x9AA0AA, 13, 700, Align::Leading, true);
  if (s.hoverId == 3) p.Fill(Box(313, 138, 349, 174), 8, 0x1F2228);
  if (s.copiedRecently) {
    p.DrawIcon(Icon::Check, 323, 148, 16, 0xC8F04A, 3);
  } else {
    p.DrawIcon(Icon::Copy, 323, 148, 16, 0x9AA0AA, 2);
  }
  hits->InsertFront({{253, 5, 293, 37, 40},
                     {127, 46, 363, 90, 4},
                     {127, 90, 363, 134, 5},
                     {127, 134, 363, 178, 3},
                     {0, 0, 380, 560, 12}});
}

void DrawNotice(Painter& p, const UiSnapshot& s, const D2D1_RECT_F& box, float size, HitList* hits) {
  if (s.noticeMessage.empty()) return;
  const bool clickable = !s.noticeAction.empty();
  p.Fill(box, 10, clickable && s.hoverId == kNoticeId ? 0x1F2228 : 0x16181C);
  const float mid = (box.top + box.bottom) / 2;
  p.Circle(box.left + 13, mid, 3.5f, 0xFF6B5E);
  const float left = box.left + 24, right = box.right - 12;
  // The action goes when the line would not fit beside it; the message
  // shrinks when it does not fit alone. The whole line stays clickable.
  const float messageWidth = p.Measure(s.noticeMessage, size, 600);
  const float actionWidth = clickable ? p.Measure(s.noticeAction, size, 700) : 0;
  const bool showAction = clickable && messageWidth + 10 + actionWidth <= right - left;
  float messageSize = size;
  if (!showAction && messageWidth > right - left) messageSize = std::max(9.0f, size * (right - left) / messageWidth);
  p.Text(s.noticeMessage, Box(left, box.top, right, box.bottom), 0xF2F3F5, messageSize, 600, Align::Leading);
  if (showAction) p.Text(s.noticeAction, Box(left, box.top, right, box.bottom), 0xC8F04A, size, 700, Align::Trailing);
  if (clickable) hits->Add(box.left, box.top, box.right, box.bottom, kNoticeId);
}
