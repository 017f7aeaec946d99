// The live capture: the main window drawn once with the pipeline's preview.
#include <gtest/gtest.h>
#include <windows.h>
#include <d2d1_1.h>
#include <dwrite.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "app/core/log.h"
#include "app/core/platform.h"
#include "app/ui/live_capture_win.h"
#include "app/video/video_pipeline.h"
#include "clips.h"
#include "video_env.h"

using Microsoft::WRL::ComPtr;

namespace {

std::wstring Temp(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}


TEST(LiveCapture, TheMainWindowWithTheLivePictureOnceThereIsOne) {
  ComPtr<ID2D1Factory1> d2d;
  ComPtr<IDWriteFactory> dwrite;
  ASSERT_EQ(D2D1CreateFactory(D2D1_FACTORY_TYPE_MULTI_THREADED, __uuidof(ID2D1Factory1), nullptr,
                              reinterpret_cast<void**>(d2d.GetAddressOf())),
            S_OK);
  ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                reinterpret_cast<IUnknown**>(dwrite.GetAddressOf())),
            S_OK);
  ComPtr<ID2D1Multithread> lock;
  d2d.As(&lock);
  std::wstring log = Temp(L"orvane-live.log");
  LogOpen(log);
  UiSnapshot snapshot;
  snapshot.connected = true;
  snapshot.phoneName = L"iPhone";
  snapshot.width = 1920, snapshot.height = 1080, snapshot.fps = 30;

  VideoPipeline video;
  ASSERT_TRUE(video.InitGraphics());
  std::wstring none = Temp(L"orvane-live-none.png");
  DeleteFileW(none.c_str());
  EXPECT_FALSE(CaptureLiveWindow(none, snapshot, 96, video, d2d.Get(), dwrite.Get(), lock.Get()));
  EXPECT_EQ(GetFileAttributesW(none.c_str()), INVALID_FILE_ATTRIBUTES) << "no preview yet: no file";

  Clip clip = LoadClip("clip-1080p30.h264");
  video.SetPreviewTarget(346, 196, true);
  video.Configure(1920, 1080, 30);
  for (size_t i = 0; i < 5; ++i) {
    const AccessUnit& u = clip.units[i];
    video.Decode(clip.bytes.data() + u.offset, u.size, static_cast<int64_t>(i) * 33333, u.keyframe, true);
  }
  ASSERT_TRUE(video.PreviewReady());
  std::wstring shot = Temp(L"orvane-live.png");
  EXPECT_TRUE(CaptureLiveWindow(shot, snapshot, 144, video, d2d.Get(), dwrite.Get(), lock.Get()));
  EXPECT_FALSE(CaptureLiveWindow(Temp(L"no-existe\\x.png"), snapshot, 96, video, d2d.Get(), dwrite.Get(), lock.Get()));
  LogClose();

  UINT width = 0, height = 0;
  std::vector<uint8_t> px;
  ASSERT_TRUE(ReadPng(shot, &width, &height, &px));
  EXPECT_EQ(width, 570u);
  EXPECT_EQ(height, 840u);
  auto at = [&](float x, float y) { return &px[(static_cast<size_t>(y * 1.5f) * width + static_cast<size_t>(x * 1.5f)) * 4]; };
  EXPECT_EQ(at(0, 0)[3], 0) << "the rounded frame on transparency";
  // The preview as the pipeline made it (346x196, drawn from (17, 57) in
  // DIPs): where the picture is, the capture shows its colours.
  ComPtr<ID3D11Texture2D> texture;
  uint64_t generation = 0;
  video.GetPreview(&texture, &generation);
  ASSERT_TRUE(texture);
  D3D11_TEXTURE2D_DESC desc{};
  const std::vector<uint8_t> preview = ReadTexture(video.Device(), texture.Get(), &desc);
  ASSERT_EQ(desc.Width, 346u);
  for (auto [x, y] : {std::pair{40, 80}, {330, 80}, {40, 230}, {330, 230}}) {
    const uint8_t* shown = at(static_cast<float>(x), static_cast<float>(y));
    const uint8_t* made = &preview[(static_cast<size_t>(y - 57) * 346 + static_cast<size_t>(x - 17)) * 4];
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(shown[c], made[c], 12) << x << "," << y << " channel " << c;
  }
  std::string text;
  (void)ReadWholeFile(log, &text);
  EXPECT_NE(text.find("orvane-live.png: ok"), std::string::npos) << text;
  EXPECT_NE(text.find("x.png: ERROR"), std::string::npos) << text;
  EXPECT_EQ(text.find("orvane-live-none.png"), std::string::npos) << "no line without a preview";
}

}  // namespace
