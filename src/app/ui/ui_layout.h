#pragma once
// The arithmetic and the texts of the drawn windows that need no Direct2D:
// number formats, labels, which rows and cells show and how, and the list
// of clickable regions. The drawing code lays these out as they say.
#include <cstdint>
#include <string>
#include <vector>

// ---- Texts ----

// A load value: one decimal below 10, none from 10 on, with a decimal comma.
std::wstring FormatLoad(double value);
// Six-character codes are shown as two groups of three; others unchanged.
std::wstring SpacedPairingCode(const std::wstring& code);
// "720p · 30", "4K · 60", "— · —".
std::wstring QualityLabel(int width, int height, int fps);
// "·  42 ms", or "·  — ms" while the delay is unknown (negative).
std::wstring DelayText(int latencyMs);
// Megabytes rounded half up: "38 MB".
std::wstring RamText(double megabytes);

// The capture mode's "--calidad" and "--pedido": "720p", "1080p" or "4K"
// (index 0, 1, 2; -1 for anything else), optionally "@" and a frame rate
// read like atoi (-1 without "@").
int QualityOptionResolution(const std::wstring& text);
int QualityOptionRate(const std::wstring& text);

// ---- Sliders ----

struct SliderLook {
  float value;         // clamped to 0..1: the thumb's place
  std::wstring text;   // the number 0 to 100, or "—" when unsupported
  bool brightText;     // supported, enabled and above 0.004
  bool clickable;      // supported and enabled
};
SliderLook SliderFor(float value, bool enabled, bool supported);

// ---- Option cells: segmented items and the quality menu ----

struct CellLook {
  bool available;
  bool selected;
  bool pending;
  bool struck;     // unavailable although the feature is there: text struck through
  bool clickable;  // available and not selected
};
// Item i of a segmented control: available when the feature is supported and
// bit i of the mask is set; the selected one only while supported.
CellLook SegmentFor(int i, bool supported, uint8_t mask, int selected);

struct QualityState {
  bool connected = false;
  bool capsKnown = false;
  uint8_t caps[3] = {0, 0, 0};  // 720p, 1080p, 4K: bit 0 = 30 fps, bit 1 = 60 fps
  int width = 0, height = 0, fps = 0;
  int pendingResolution = -1;   // 0..2, -1 none
  int pendingRate = -1;         // 0..1, -1 none
};
// Resolution cells 0..2 (720p, 1080p, 4K) and frame-rate cells 0..1 (30, 60).
CellLook ResolutionCellFor(int i, const QualityState& q);
CellLook RateCellFor(int j, const QualityState& q);

// ---- Pending phones in the no-phone view ----

struct PendingRow {
  int index;  // into the full list: the row's id is 100 + index
  float top, bottom;
};
// The last two of the list at most, the last one lowest.
std::vector<PendingRow> PendingRows(int count);

// ---- Clickable regions ----

struct HitRegion {
  float left, top, right, bottom;
  int32_t id;
};

class HitList {
 public:
  void Clear() { regions_.clear(); }
  void Add(float left, float top, float right, float bottom, int32_t id) {
    regions_.push_back({left, top, right, bottom, id});
  }
  // An open menu's regions go in front of everything drawn before them.
  void InsertFront(const std::vector<HitRegion>& regions);
  // The first region that holds the point (left and top inclusive), null for none.
  const HitRegion* At(float x, float y) const;
  // Its control id, 0 for none.
  int32_t Hit(float x, float y) const {
    const HitRegion* r = At(x, y);
    return r ? r->id : 0;
  }
  const std::vector<HitRegion>& Regions() const { return regions_; }

 private:
  std::vector<HitRegion> regions_;
};
