#include "ui_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "../link/messages.h"

namespace {

const wchar_t kDash[] = L"\u2014";
const wchar_t kDot[] = L"\u00B7";

CellLook Cell(bool available, bool selected, bool pending, bool testing) {
  CellLook c{};
  c.available = available;
  c.selected = selected;
  c.pending = pending && !selected;
  c.struck = testing && !available && !selected;
  c.clickable = available && !selected;
  return c;
}

}  // namespace

std::wstring FormatLoad(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f" : "%.0f", value);
  std::wstring out;
  for (const char* p = text; *p; ++p) out.push_back(*p == '.' ? L',' : static_cast<wchar_t>(*p));
  return out;
}

std::wstring SpacedPairingCode(const std::wstring& code) {
  return code.size() == 6 ? code.substr(0, 3) + L" " + code.substr(3) : code;
}

std::wstring QualityLabel(int width, int height, int fps) {
  int side = std::min(width, height);
  std::wstring resolution = side >= 2160 ? L"4K" : side <= 0 ? kDash : std::to_wstring(side) + L"p";
  std::wstring rate = fps <= 0 ? kDash : std::to_wstring(fps);
  return resolution + L" " + kDot + L" " + rate;
}

std::wstring DelayText(int latencyMs) {
  return std::wstring(kDot) + L"  " + (latencyMs < 0 ? std::wstring(kDash) : std::to_wstring(latencyMs)) + L" ms";
}

std::wstring RamText(double megabytes) { return std::to_wstring(static_cast<long long>(megabytes + 0.5)) + L" MB"; }

int QualityOptionResolution(const std::wstring& text) {
  std::wstring name = text.substr(0, text.find(L'@'));
  return name == L"720p" ? 0 : name == L"1080p" ? 1 : name == L"4K" ? 2 : -1;
}

int QualityOptionRate(const std::wstring& text) {
  size_t at = text.find(L'@');
  return at == std::wstring::npos ? -1 : static_cast<int>(std::wcstol(text.c_str() + at + 1, nullptr, 10));
}

SliderLook SliderFor(float value, bool enabled, bool supported) {
  float v = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
  SliderLook s{};
  s.value = v;
  s.text = supported ? std::to_wstring(static_cast<int>(std::lround(100.0f * v))) : std::wstring(kDash);
  s.brightText = supported && enabled && v > 0.004f;
  s.clickable = supported && enabled;
  return s;
}

CellLook SegmentFor(int i, bool supported, uint8_t mask, int selected) {
  bool available = supported && (mask >> i & 1);
  CellLook c = Cell(available, supported && i == selected, false, supported);
  c.struck = supported && !available;  // a selected item too: it keeps its plate and shows it is not offered
  return c;
}

CellLook ResolutionCellFor(int i, const QualityState& q) {
  bool testing = q.connected && q.capsKnown;
  int current = ResolutionIndex(q.width, q.height);
  bool otherPending = q.pendingResolution >= 0 && q.pendingResolution != current;
  bool available = testing && q.caps[i] != 0;
  return Cell(available, i == current && !otherPending, otherPending && i == q.pendingResolution, testing);
}

CellLook RateCellFor(int j, const QualityState& q) {
  bool testing = q.connected && q.capsKnown;
  int current = RateIndex(q.fps);
  int shown = q.pendingResolution >= 0 ? q.pendingResolution : ResolutionIndex(q.width, q.height);
  bool otherPending = q.pendingRate >= 0 && q.pendingRate != current;
  bool available = testing && shown >= 0 && (q.caps[shown] >> j & 1);
  return Cell(available, j == current && !otherPending, otherPending && j == q.pendingRate, testing);
}

std::vector<PendingRow> PendingRows(int count) {
  std::vector<PendingRow> rows;
  int shown = std::min(count, 2);
  for (int k = 0; k < shown; ++k) {
    float bottom = 537.0f - 64.0f * static_cast<float>(k);
    rows.push_back({count - 1 - k, bottom - 56.0f, bottom});
  }
  return rows;
}

void HitList::InsertFront(const std::vector<HitRegion>& regions) {
  regions_.insert(regions_.begin(), regions.begin(), regions.end());
}

const HitRegion* HitList::At(float x, float y) const {
  for (const HitRegion& r : regions_) {
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return &r;
  }
  return nullptr;
}
