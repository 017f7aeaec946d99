#include "common/camera_block.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Block {
  std::unique_ptr<uint8_t[]> bytes{new uint8_t[kBlockSize]()};
  uint8_t* data() { return bytes.get(); }
  CameraBlockHeader* header() { return HeaderOf(bytes.get()); }
};

// Writes a packed NV12 picture whose bytes say where they are.
void WritePicture(Block& b, uint32_t slot, uint32_t w, uint32_t h, uint8_t base) {
  uint8_t* p = SlotOf(b.data(), slot);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) p[y * w + x] = static_cast<uint8_t>(base + x + 3 * y);
  uint8_t* c = p + w * h;
  for (uint32_t y = 0; y < h / 2; ++y)
    for (uint32_t x = 0; x < w; ++x) c[y * w + x] = static_cast<uint8_t>(100 + x + 5 * y);
}

struct Picture {
  uint32_t w, h, pitch;
  std::vector<uint8_t> bytes;
  Picture(uint32_t width, uint32_t height, uint32_t extra = 0)
      : w(width), h(height), pitch(width + extra), bytes(static_cast<size_t>(pitch) * height * 3 / 2, 0xEE) {}
  Nv12Destination Out() { return {bytes.data(), pitch, w, h}; }
  uint8_t Y(uint32_t x, uint32_t y) const { return bytes[y * pitch + x]; }
  uint8_t C(uint32_t x, uint32_t y) const { return bytes[(h + y) * pitch + x]; }
  bool Black() const {
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        if (Y(x, y) != 16 || (y < h / 2 && C(x, y) != 128)) return false;
    return true;
  }
};

TEST(CameraBlockWriter, TargetSizeIsTheCamerasOrElseThePicturesEven) {
  Block b;
  EXPECT_EQ(CameraTargetSize(*b.header(), 1921, 1081).width, 1920u) << "nothing requested: the display size";
  EXPECT_EQ(CameraTargetSize(*b.header(), 1921, 1081).height, 1080u);
  b.header()->requestedWidth = 1280;
  b.header()->requestedHeight = 720;
  EXPECT_EQ(CameraTargetSize(*b.header(), 1920, 1080).width, 1280u);
  EXPECT_EQ(CameraTargetSize(*b.header(), 1920, 1080).height, 720u);
  for (auto [w, h] : {std::pair{15u, 720u}, {1280u, 2161u}, {3841u, 720u}, {0u, 0u}}) {
    b.header()->requestedWidth = w;
    b.header()->requestedHeight = h;
    EXPECT_EQ(CameraTargetSize(*b.header(), 640, 360).width, 640u) << w << "x" << h << " is no camera size";
  }
  EXPECT_EQ(CameraTargetSize(*b.header(), 7680, 4320).width, 0u) << "too big for a slot: nothing";
}

TEST(CameraBlockWriter, PublishingAlternatesSlotsAndKeepsThePictureFreshWhileConnected) {
  Block b;
  CameraBlockHeader* h = b.header();
  EXPECT_FALSE(ReaderAlive(*h, 5000));
  h->magic = kBlockMagic;
  h->readerHeartbeat = 5000;
  EXPECT_TRUE(ReaderAlive(*h, 6999));
  EXPECT_FALSE(ReaderAlive(*h, 7000));
  h->readerHeartbeat = 0;
  EXPECT_FALSE(ReaderAlive(*h, 5000)) << "a stopped stream";

  RefreshLinkState(h, true, false, 100);
  EXPECT_EQ(h->lastWriteTick, 0u) << "no picture yet: nothing to keep fresh";
  uint32_t first = FreeSlot(*h);
  EXPECT_EQ(first, 1u);
  PublishSlot(h, first, 640, 360, 200);
  EXPECT_EQ(h->latestSlot, 1u);
  EXPECT_EQ(h->slotWidth[1], 640u);
  EXPECT_EQ(h->slotHeight[1], 360u);
  EXPECT_EQ(h->frameCounter, 1u);
  EXPECT_EQ(h->lastWriteTick, 200u);
  EXPECT_EQ(FreeSlot(*h), 0u);
  h->latestSlot = 0xFFFFFFFE;  // whatever the other side wrote, a slot is 0 or 1
  EXPECT_EQ(FreeSlot(*h), 1u);

  RefreshLinkState(h, true, true, 9000);
  EXPECT_EQ(h->lastWriteTick, 9000u);
  EXPECT_EQ(h->paused, 1u);
  RefreshLinkState(h, false, false, 9500);
  EXPECT_EQ(h->lastWriteTick, 0u);
  EXPECT_EQ(h->paused, 0u);
}

TEST(CameraBlockReader, BlackUntilAPictureAndAgainWhenItGetsOld) {
  Block b;
  ReaderState state;
  Picture out(64, 32);
  FillFrameFrom(nullptr, &state, out.Out(), 30, 1000);
  EXPECT_TRUE(out.Black()) << "no block";
  FillFrameFrom(b.data(), &state, out.Out(), 30, 1000);
  EXPECT_TRUE(out.Black()) << "no picture";
  EXPECT_EQ(b.header()->readerHeartbeat, 1000u);
  EXPECT_EQ(b.header()->requestedWidth, 64u);
  EXPECT_EQ(b.header()->requestedHeight, 32u);
  EXPECT_EQ(b.header()->requestedFps, 30u);

  WritePicture(b, 1, 64, 32, 20);
  PublishSlot(b.header(), 1, 64, 32, 2000);
  FillFrameFrom(b.data(), &state, out.Out(), 30, 4999);
  EXPECT_EQ(out.Y(5, 7), 20 + 5 + 21);
  EXPECT_EQ(out.C(9, 3), 100 + 9 + 15);
  FillFrameFrom(b.data(), &state, out.Out(), 30, 5000);
  EXPECT_TRUE(out.Black()) << "3 s without a picture";
  b.header()->lastWriteTick = 5000;  // the program says the phone is still there
  FillFrameFrom(b.data(), &state, out.Out(), 30, 5001);
  EXPECT_TRUE(out.Black()) << "the picture it had was already given up";
}

TEST(CameraBlockReader, EqualSizeIsCopiedAndAnotherSizeScaledByNearestNeighbour) {
  Block b;
  ReaderState state;
  WritePicture(b, 1, 64, 32, 0);
  PublishSlot(b.header(), 1, 64, 32, 1000);
  Picture same(64, 32, 16);  // a pitch wider than the picture
  FillFrameFrom(b.data(), &state, same.Out(), 30, 1001);
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(same.Y(x, y), static_cast<uint8_t>(x + 3 * y));
  EXPECT_EQ(same.bytes[64], 0xEE) << "nothing written past the row";

  Picture half(32, 16, 4);
  FillFrameFrom(b.data(), &state, half.Out(), 30, 1002);
  EXPECT_EQ(half.Y(7, 5), static_cast<uint8_t>(14 + 3 * 10));
  EXPECT_EQ(half.C(2 * 3, 2), static_cast<uint8_t>(100 + 12 + 5 * 4)) << "Cb of pair 3 is Cb of pair 6";
  EXPECT_EQ(half.C(2 * 3 + 1, 2), static_cast<uint8_t>(100 + 13 + 5 * 4));

  Picture wide(96, 48);  // larger than the picture: pairs repeat
  FillFrameFrom(b.data(), &state, wide.Out(), 30, 1003);
  EXPECT_EQ(wide.Y(95, 47), static_cast<uint8_t>(63 + 3 * 31));
  EXPECT_EQ(wide.C(2 * 47, 23), static_cast<uint8_t>(100 + 62 + 5 * 15));
}

TEST(CameraBlockReader, SizesFromTheBlockAreCheckedAndTheCounterMayWrap) {
  Block b;
  ReaderState state;
  Picture out(64, 32);
  b.header()->frameCounter = 0xFFFFFFFD;
  WritePicture(b, 0, 64, 32, 0);
  PublishSlot(b.header(), 0, 5000, 32, 1000);  // wider than any slot holds
  FillFrameFrom(b.data(), &state, out.Out(), 30, 1001);
  EXPECT_TRUE(out.Black());
  PublishSlot(b.header(), 0, 64, 32, 1000);
  FillFrameFrom(b.data(), &state, out.Out(), 30, 1002);
  EXPECT_EQ(out.Y(1, 1), 4);
  WritePicture(b, 1, 64, 32, 50);
  PublishSlot(b.header(), 1, 64, 32, 1000);
  EXPECT_EQ(b.header()->frameCounter, 0u);
  FillFrameFrom(b.data(), &state, out.Out(), 30, 1003);
  EXPECT_EQ(out.Y(1, 1), 54) << "taken across the wrap";
}

// The writer fills the free slot with one value per picture while the
// reader copies: a delivered picture is always one picture, never parts of
// two, however the copies and the publishes interleave.
TEST(CameraBlockReader, APictureIsNeverDeliveredTorn) {
  Block b;
  const uint32_t w = 1280, h = 720;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (uint32_t n = 1; !done; ++n) {
      uint32_t slot = FreeSlot(*b.header());
      std::memset(SlotOf(b.data(), slot), static_cast<int>(n % 200) + 20, w * h * 3 / 2);
      PublishSlot(b.header(), slot, w, h, 1000);
      if (n % 2) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  ReaderState state;
  Picture out(w, h);
  int torn = 0, pictures = 0;
  for (int i = 0; i < 400; ++i) {
    FillFrameFrom(b.data(), &state, out.Out(), 30, 1001);
    if (out.bytes[0] == 16 && out.bytes.back() == 128) continue;  // black: overtaken too often
    ++pictures;
    for (size_t at = 0; at < out.bytes.size(); at += 4099) {
      if (out.bytes[at] != out.bytes[0]) {
        ++torn;
        break;
      }
    }
  }
  done = true;
  writer.join();
  EXPECT_GT(pictures, 0);
  EXPECT_EQ(torn, 0);
}

}  // namespace
