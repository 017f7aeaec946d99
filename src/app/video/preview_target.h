#pragma once
// The preview size the window asks for and whether it wants a preview at
// all. The UI thread writes it and the session thread reads it; both see
// the three values as one, never the width of one request with the height
// of another.
#include <atomic>
#include <cstdint>

struct PreviewTarget {
  int32_t width = 0;
  int32_t height = 0;
  bool wanted = false;
};

class SharedPreviewTarget {
 public:
  // Sizes are kept between 0 and 2^31 - 1.
  void Store(PreviewTarget t) {
    uint64_t w = Clamp(t.width), h = Clamp(t.height);
    packed_.store(w << 32 | (t.wanted ? kWanted : 0) | h, std::memory_order_release);
  }
  PreviewTarget Load() const {
    uint64_t v = packed_.load(std::memory_order_acquire);
    return {static_cast<int32_t>(v >> 32), static_cast<int32_t>(v & kSize), (v & kWanted) != 0};
  }

 private:
  static constexpr uint64_t kSize = 0x7FFFFFFF;
  static constexpr uint64_t kWanted = 0x80000000;
  static uint64_t Clamp(int32_t v) { return v < 0 ? 0 : static_cast<uint64_t>(v); }
  std::atomic<uint64_t> packed_{0};
};
