#include "camera_block.h"

#include <cstring>

bool ReaderAlive(const CameraBlockHeader& header, uint64_t nowMs) {
  if (Peek(header.magic) != kBlockMagic) return false;
  uint64_t beat = Peek(header.readerHeartbeat);
  return beat != 0 && static_cast<int64_t>(nowMs - beat) < static_cast<int64_t>(kReaderAliveMs);
}

CameraSize CameraTargetSize(const CameraBlockHeader& header, uint32_t displayWidth, uint32_t displayHeight) {
  uint32_t w = Peek(header.requestedWidth), h = Peek(header.requestedHeight);
  if (!PictureSizeValid(w, h)) {
    w = displayWidth;
    h = displayHeight;
  }
  w &= ~1u;
  h &= ~1u;
  if (w > kMaxWidth || h > kMaxHeight || w == 0 || h == 0) return {};
  return {w, h};
}

void PublishSlot(CameraBlockHeader* header, uint32_t slot, uint32_t width, uint32_t height, uint64_t nowMs) {
  slot &= 1;
  Poke(header->slotWidth[slot], width);
  Poke(header->slotHeight[slot], height);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  Poke(header->latestSlot, slot);
  Poke(header->frameCounter, Peek(header->frameCounter) + 1);
  Poke(header->lastWriteTick, nowMs);
}

void RefreshLinkState(CameraBlockHeader* header, bool connected, bool paused, uint64_t nowMs) {
  Poke(header->paused, paused ? 1u : 0u);
  if (!connected) {
    Poke(header->lastWriteTick, uint64_t{0});
  } else if (Peek(header->frameCounter) != 0) {
    Poke(header->lastWriteTick, nowMs);
  }
}

namespace {

void FillBlack(const Nv12Destination& out) {
  uint8_t* row = out.data;
  for (uint32_t y = 0; y < out.height; ++y, row += out.pitch) std::memset(row, 16, out.width);
  for (uint32_t y = 0; y < out.height / 2; ++y, row += out.pitch) std::memset(row, 128, out.width);
}

void CopyRows(const uint8_t* picture, const Nv12Destination& out) {
  if (out.pitch == out.width) {
    std::memcpy(out.data, picture, static_cast<size_t>(out.width) * out.height * 3 / 2);
    return;
  }
  uint8_t* row = out.data;
  // Y rows, then the CbCr rows that follow them: height * 3 / 2 rows alike.
  for (uint32_t y = 0; y < out.height + out.height / 2; ++y, row += out.pitch, picture += out.width) {
    std::memcpy(row, picture, out.width);
  }
}

void ScaleNearest(const uint8_t* picture, uint32_t w, uint32_t h, const Nv12Destination& out) {
  // Source columns, worked out once for all rows (a 4K row at most).
  uint16_t columns[kMaxWidth];
  for (uint32_t x = 0; x < out.width; ++x) columns[x] = static_cast<uint16_t>(x * w / out.width);
  uint8_t* row = out.data;
  for (uint32_t y = 0; y < out.height; ++y, row += out.pitch) {
    const uint8_t* source = picture + static_cast<size_t>(y * h / out.height) * w;
    for (uint32_t x = 0; x < out.width; ++x) row[x] = source[columns[x]];
  }
  const uint8_t* chroma = picture + static_cast<size_t>(w) * h;
  uint32_t pairsIn = w / 2, rowsIn = h / 2, pairsOut = out.width / 2, rowsOut = out.height / 2;
  for (uint32_t x = 0; x < pairsOut; ++x) columns[x] = static_cast<uint16_t>(2 * (x * pairsIn / pairsOut));
  for (uint32_t y = 0; y < rowsOut; ++y, row += out.pitch) {
    const uint8_t* source = chroma + static_cast<size_t>(y * rowsIn / rowsOut) * w;
    for (uint32_t x = 0; x < pairsOut; ++x) {
      row[2 * x] = source[columns[x]];
      row[2 * x + 1] = source[columns[x] + 1];
    }
  }
}

void Draw(const uint8_t* picture, uint32_t w, uint32_t h, const Nv12Destination& out) {
  if (w == out.width && h == out.height) {
    CopyRows(picture, out);
  } else {
    ScaleNearest(picture, w, h, out);
  }
}

// A copy that new pictures overtook this many times in a row gives way to black.
constexpr int kAttempts = 3;

}  // namespace

bool NewPictureWaiting(const uint8_t* block, const ReaderState& state, uint64_t nowMs) {
  if (!block) return false;
  const auto& header = *reinterpret_cast<const CameraBlockHeader*>(block);
  uint64_t written = Peek(header.lastWriteTick);
  if (written == 0 || nowMs - written >= kPictureFreshMs) return false;
  if (Peek(header.frameCounter) == state.lastSeenCounter) return false;
  uint32_t slot = Peek(header.latestSlot) & 1;
  return PictureSizeValid(Peek(header.slotWidth[slot]), Peek(header.slotHeight[slot]));
}

void FillFrameFrom(uint8_t* block, ReaderState* state, const Nv12Destination& out, uint32_t fps, uint64_t nowMs) {
  bool shown = false;
  if (block) {
    CameraBlockHeader* header = HeaderOf(block);
    Poke(header->readerHeartbeat, nowMs);
    Poke(header->requestedWidth, out.width);
    Poke(header->requestedHeight, out.height);
    Poke(header->requestedFps, fps);
    uint64_t written = Peek(header->lastWriteTick);
    bool fresh = written != 0 && nowMs - written < kPictureFreshMs;
    if (!fresh) state->hasFrame = false;
    for (int attempt = 0; fresh && !shown && attempt < kAttempts; ++attempt) {
      uint32_t before = Peek(header->frameCounter);
      // A picture given up for age comes back only with a new one.
      if (before == state->lastSeenCounter && !state->hasFrame) break;
      uint32_t slot = Peek(header->latestSlot) & 1;
      uint32_t w = Peek(header->slotWidth[slot]), h = Peek(header->slotHeight[slot]);
      if (!PictureSizeValid(w, h)) break;
      Draw(SlotOf(block, slot), w, h, out);
      std::atomic_thread_fence(std::memory_order_seq_cst);
      if (Peek(header->frameCounter) != before) continue;
      state->lastSeenCounter = before;
      state->hasFrame = true;
      state->width = w;
      state->height = h;
      shown = true;
    }
  }
  if (!shown) FillBlack(out);
}
