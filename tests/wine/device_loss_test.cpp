// The pipeline's side of a lost graphics device: the session finds it,
// says so once and stops using it; a replacement is taken between two
// pictures, or at once when no session decodes; the old device is freed.
#include <gtest/gtest.h>
#include <windows.h>
#include <mfapi.h>

#include <atomic>

#include "app/core/window_messages.h"
#include "app/video/video_pipeline.h"
#include "clips.h"
#include "video_env.h"

using Microsoft::WRL::ComPtr;

namespace {

// Attached to a device as private data: the device releases it when it is
// destroyed, which is how a test sees that nothing holds the device any more.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class Probe final : public IUnknown {
 public:
  explicit Probe(std::atomic<bool>* freed) : freed_(freed) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == __uuidof(IUnknown) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      *freed_ = true;
      delete this;
    }
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
  std::atomic<bool>* freed_;
};
#pragma GCC diagnostic pop

constexpr GUID kProbeKey = {0x2d7e1c55, 0x9a0b, 0x4c3e, {0x8e, 0x11, 0x52, 0x6f, 0x3a, 0x90, 0xbc, 0x47}};

void WatchRelease(ID3D11Device* device, std::atomic<bool>* freed) {
  auto* probe = new Probe(freed);
  ASSERT_EQ(device->SetPrivateDataInterface(kProbeKey, probe), S_OK);
  probe->Release();
}


class DeviceLoss : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(video.InitGraphics());
    clip = LoadClip("clip-720p30.h264");
    ASSERT_GE(clip.units.size(), 60u);
    window = MessageWindow();
    ASSERT_NE(window, nullptr);
    video.SetTargetWindow(window);
    video.SetPreviewTarget(320, 180, true);
  }
  void TearDown() override {
    video.Close();
    DestroyWindow(window);
  }
  void Feed(size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      const AccessUnit& u = clip.units[i % clip.units.size()];
      video.Decode(clip.bytes.data() + u.offset, u.size, static_cast<int64_t>(i) * 33333, u.keyframe, true);
    }
  }
  // The device-lost messages waiting, as (reason, generation).
  std::vector<std::pair<HRESULT, uint32_t>> LossMessages() {
    std::vector<std::pair<HRESULT, uint32_t>> got;
    MSG msg;
    while (PeekMessageW(&msg, window, kMsgDeviceLost, kMsgDeviceLost, PM_REMOVE)) {
      got.emplace_back(static_cast<HRESULT>(msg.wParam), static_cast<uint32_t>(msg.lParam));
    }
    return got;
  }
  ID3D11Device* PreviewDevice() {
    ComPtr<ID3D11Texture2D> texture;
    uint64_t generation = 0;
    video.GetPreview(&texture, &generation);
    if (!texture) return nullptr;
    ComPtr<ID3D11Device> device;
    texture->GetDevice(&device);
    return device.Get();  // still held by the pipeline
  }

  VideoPipeline video;
  Clip clip;
  HWND window = nullptr;
};

TEST_F(DeviceLoss, TheSessionStopsOnALostDeviceAndGoesOnWithTheNewOneFromAKeyFrame) {
  video.Configure(1280, 720, 30);
  Feed(0, 10);
  ASSERT_GE(video.DecodedFrames(), 8u);
  ID3D11Device* old = video.Device();
  ASSERT_EQ(PreviewDevice(), old);
  std::atomic<bool> oldFreed{false};
  WatchRelease(old, &oldFreed);

  // Found at the next picture: reported once, with the device's generation,
  // and nothing more is decoded on it.
  const uint32_t generation = video.DeviceGeneration();
  video.SimulateDeviceLoss();
  const unsigned long long before = video.DecodedFrames();
  Feed(10, 20);
  EXPECT_EQ(video.DecodedFrames(), before);
  EXPECT_EQ(video.LostDeviceReason(), DXGI_ERROR_DEVICE_REMOVED);
  const auto reported = LossMessages();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].first, DXGI_ERROR_DEVICE_REMOVED);
  EXPECT_EQ(reported[0].second, generation);

  // The replacement waits for the session's next picture.
  GraphicsDevice next;
  ASSERT_TRUE(CreateGraphicsDevice(&next));
  ID3D11Device* fresh = next.device.Get();
  video.ReplaceDevice(std::move(next));
  EXPECT_EQ(video.DeviceGeneration(), generation + 1);
  EXPECT_FALSE(oldFreed) << "the session was still using it";

  // Taken at the next picture; a new decoder waits for a key frame.
  const size_t nextKey = clip.units.size();  // the loop starts again at a key frame
  for (size_t i = nextKey - 5; i < nextKey; ++i) ASSERT_FALSE(clip.units[i].keyframe);
  Feed(nextKey - 5, nextKey);
  EXPECT_TRUE(oldFreed) << "nothing may hold the lost device once the session moved";
  EXPECT_EQ(video.Device(), fresh);
  EXPECT_EQ(video.LostDeviceReason(), S_OK);
  EXPECT_EQ(video.DecodedFrames(), before) << "pictures before a key frame are not decoded";
  Feed(nextKey, nextKey + 10);
  EXPECT_GE(video.DecodedFrames(), before + 8);
  EXPECT_EQ(PreviewDevice(), fresh) << "the preview is made on the new device";
  EXPECT_TRUE(LossMessages().empty());
}

TEST_F(DeviceLoss, WithNoSessionTheOldDeviceGoesAtOnceAndAnEndingSessionTakesAWaitingOne) {
  video.Configure(1280, 720, 30);
  Feed(0, 5);
  video.Teardown();
  std::atomic<bool> firstFreed{false};
  WatchRelease(video.Device(), &firstFreed);
  GraphicsDevice second;
  ASSERT_TRUE(CreateGraphicsDevice(&second));
  video.ReplaceDevice(std::move(second));
  EXPECT_TRUE(firstFreed) << "no session: replaced at once";

  video.Configure(1280, 720, 30);
  Feed(0, 5);
  std::atomic<bool> secondFreed{false};
  WatchRelease(video.Device(), &secondFreed);
  // Two losses in a row before the session took the first replacement:
  // the newest wins, the one in between is simply dropped.
  GraphicsDevice third, fourth;
  ASSERT_TRUE(CreateGraphicsDevice(&third));
  ASSERT_TRUE(CreateGraphicsDevice(&fourth));
  std::atomic<bool> thirdFreed{false};
  WatchRelease(third.device.Get(), &thirdFreed);
  ID3D11Device* last = fourth.device.Get();
  video.ReplaceDevice(std::move(third));
  video.ReplaceDevice(std::move(fourth));
  EXPECT_TRUE(thirdFreed);
  EXPECT_FALSE(secondFreed);
  video.Teardown();
  EXPECT_TRUE(secondFreed) << "the session's end took the waiting device";
  EXPECT_EQ(video.Device(), last);
}

TEST(GraphicsDevice, CreationsMadeToFailFailThenWorkAgain) {
  FailNextDeviceCreations(2);
  GraphicsDevice d;
  EXPECT_FALSE(CreateGraphicsDevice(&d));
  EXPECT_FALSE(CreateGraphicsDevice(&d));
  EXPECT_FALSE(d.device);
  ASSERT_TRUE(CreateGraphicsDevice(&d));
  EXPECT_TRUE(d.device && d.context);
}

}  // namespace
