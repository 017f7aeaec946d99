#include <gtest/gtest.h>
#include <windows.h>
#include <mfapi.h>

#include "app/core/log.h"
#include "app/core/platform.h"
#include "app/video/video_pipeline.h"
#include "clips.h"
#include "decoder_spy.h"
#include "video_env.h"

namespace {

void Feed(VideoPipeline& v, const Clip& c, size_t from, size_t to, bool show = true) {
  for (size_t i = from; i < to; ++i) {
    const AccessUnit& u = c.units[i % c.units.size()];
    v.Decode(c.bytes.data() + u.offset, u.size, static_cast<int64_t>(i) * 33333, u.keyframe, show);
  }
}

std::wstring TempLog() {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + L"orvane-video-test.log";
}

std::string ReadLog(const std::wstring& path) {
  LogClose();
  std::string text;
  (void)ReadWholeFile(path, &text);
  return text;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Video : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(video.InitGraphics());
    clip720 = LoadClip("clip-720p30.h264");
    ASSERT_GE(clip720.units.size(), 60u);
    ASSERT_TRUE(clip720.units[0].keyframe);
    ASSERT_FALSE(clip720.units[1].keyframe);
  }
  VideoPipeline video;
  Clip clip720;
};

TEST_F(Video, EveryPictureIsDecodedAndCounted) {
  video.Configure(1280, 720, 30);
  ASSERT_TRUE(video.HasDecoder());
  Feed(video, clip720, 0, 60);
  EXPECT_GE(video.DecodedFrames(), 58u);
  EXPECT_LE(video.DecodedFrames(), 60u);
  EXPECT_EQ(video.SkippedFrames(), 0u);
  EXPECT_EQ(video.DisplayWidth(), 1280u);
  EXPECT_EQ(video.DisplayHeight(), 720u);
  EXPECT_FALSE(video.Hardware()) << "Wine's decoder is not D3D11-aware";
  EXPECT_GT(video.DecodeMs(), 0.0);
}

// The pipeline's decoder with a spy in front, for one test.
class SpiedDecoder {
 public:
  SpiedDecoder() {
    DecoderSpy::record = &record;
    UseDecoderFactoryForTests(&DecoderSpy::Create);
  }
  ~SpiedDecoder() {
    UseDecoderFactoryForTests(nullptr);
    DecoderSpy::record = nullptr;
  }
  DecoderSpy::Record record;
};

TEST_F(Video, PicturesBeforeTheFirstKeyframeNeverReachTheDecoder) {
  SpiedDecoder spy;
  video.Configure(1280, 720, 30);
  ASSERT_TRUE(video.HasDecoder());
  Feed(video, clip720, 1, 15);  // P-frames only
  EXPECT_EQ(spy.record.Inputs(), 0u) << "a picture before the first key frame was offered";
  EXPECT_EQ(video.DecodedFrames(), 0u);
  Feed(video, clip720, 15, 45);
  EXPECT_EQ(spy.record.Inputs(), 30u);
  EXPECT_GE(video.DecodedFrames(), 28u);
}

TEST_F(Video, AnInputTheDecoderRefusesIsOfferedOnceMoreAfterADrain) {
  SpiedDecoder spy;
  video.Configure(1280, 720, 30);
  Feed(video, clip720, 0, 10);
  spy.record.events.clear();
  spy.record.refusals = 1;
  Feed(video, clip720, 10, 11);
  const auto& e = spy.record.events;
  ASSERT_GE(e.size(), 3u);
  EXPECT_EQ(e.front().first, 'R');
  // Between the refusal and the retry only outputs: the drain.
  size_t retry = 1;
  while (retry < e.size() && e[retry].first == 'O') ++retry;
  EXPECT_GT(retry, 1u) << "no drain before the retry";
  ASSERT_LT(retry, e.size());
  EXPECT_EQ(e[retry].first, 'I');
  EXPECT_EQ(e[retry].second, e.front().second) << "the retry is the same input";
  EXPECT_EQ(spy.record.Inputs(), 2u) << "exactly one retry";
  // Refused twice in a row: given up after the one retry, and the stream goes on.
  spy.record.events.clear();
  spy.record.refusals = 2;
  const unsigned long long before = video.DecodedFrames();
  Feed(video, clip720, 11, 12);
  EXPECT_EQ(spy.record.Inputs(), 2u);
  spy.record.events.clear();
  Feed(video, clip720, 12, 20);
  EXPECT_EQ(spy.record.Inputs(), 8u);
  EXPECT_GT(video.DecodedFrames(), before);
}

TEST_F(Video, PicturesNotToBeShownAreCountedAndGoNowhere) {
  video.SetPreviewTarget(640, 360, true);
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring snapshot = std::wstring(dir) + L"orvane-never.png";
  DeleteFileW(snapshot.c_str());
  video.RequestSnapshot(snapshot);
  video.Configure(1280, 720, 30);
  Feed(video, clip720, 0, 50, false);
  EXPECT_GE(video.DecodedFrames(), 48u);
  EXPECT_EQ(video.SkippedFrames(), video.DecodedFrames());
  EXPECT_FALSE(video.PreviewReady());
  EXPECT_EQ(GetFileAttributesW(snapshot.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Video, OnlyAChangedConfigRecreatesTheDecoder) {
  std::wstring log = TempLog();
  LogOpen(log);
  video.Configure(1280, 720, 60);
  video.Configure(1280, 720, 60);
  video.Configure(1280, 720, 0);    // becomes 60: unchanged
  video.Configure(1280, 720, 500);  // the same
  video.Configure(0, 0, 30);
  video.Configure(7681, 720, 30);
  video.Configure(1280, 4321, 30);
  EXPECT_TRUE(video.HasDecoder());
  Feed(video, clip720, 0, 5);
  EXPECT_GE(video.DecodedFrames(), 4u);
  video.Configure(1280, 720, 30);
  // A new decoder waits for a keyframe again.
  unsigned long long before = video.DecodedFrames();
  Feed(video, clip720, 5, 14);
  EXPECT_EQ(video.DecodedFrames(), before);
  LogClose();
  std::string text;
  (void)ReadWholeFile(log, &text);
  EXPECT_EQ(Count(text, "Decodificador listo 1280x720@60 (software)"), 1u) << text;
  EXPECT_EQ(Count(text, "Decodificador listo 1280x720@30 (software)"), 1u) << text;
  EXPECT_EQ(Count(text, "Decodificador listo"), 2u);
  // The way pictures are converted is decided, and said, at each decoder's
  // first picture.
  EXPECT_EQ(Count(text, "Conversión de la imagen por CPU"), 1u) << text;
  LogOpen(log);
  Feed(video, clip720, 15, 20);
  EXPECT_EQ(Count(ReadLog(log), "Conversión de la imagen por CPU"), 1u) << "the second decoder's line";
}

TEST_F(Video, CodedLinesBeyondTheDisplaySizeAreLeftOut) {
  Clip clip = LoadClip("clip-1080p30.h264");
  video.Configure(1920, 1080, 30);
  Feed(video, clip, 0, 3);
  EXPECT_EQ(video.CodedHeight(), 1088u);
  EXPECT_EQ(video.DisplayWidth(), 1920u);
  EXPECT_EQ(video.DisplayHeight(), 1080u);
}


TEST_F(Video, PreviewIsLetterBoxedAndAnnouncedOnce) {
  HWND window = MessageWindow();
  ASSERT_NE(window, nullptr);
  video.SetTargetWindow(window);
  video.SetPreviewTarget(641, 481, true);  // rounded down to even sizes
  Clip clip = LoadClip("clip-1080p30.h264");
  video.Configure(1920, 1080, 30);
  Feed(video, clip, 0, 10);
  ASSERT_TRUE(video.PreviewReady());
  EXPECT_GT(video.PreviewTimestampUs(), 0);

  MSG msg;
  int posted = 0;
  while (PeekMessageW(&msg, window, WM_APP + 2, WM_APP + 2, PM_REMOVE)) ++posted;
  EXPECT_EQ(posted, 1) << "one message while the window has not taken the last one";
  video.ClearFramePosted();
  Feed(video, clip, 10, 12);
  posted = 0;
  while (PeekMessageW(&msg, window, WM_APP + 2, WM_APP + 2, PM_REMOVE)) ++posted;
  EXPECT_EQ(posted, 1);

  Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
  uint64_t generation = 0;
  video.GetPreview(&texture, &generation);
  ASSERT_TRUE(texture);
  EXPECT_GE(generation, 1u);
  D3D11_TEXTURE2D_DESC desc{};
  std::vector<uint8_t> px = ReadTexture(video.Device(), texture.Get(), &desc);
  ASSERT_EQ(desc.Width, 640u);
  ASSERT_EQ(desc.Height, 480u);
  EXPECT_EQ(desc.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
  EXPECT_TRUE(desc.BindFlags & D3D11_BIND_SHADER_RESOURCE);
  ASSERT_EQ(px.size(), 640u * 480 * 4);
  auto at = [&](int x, int y) { return &px[(static_cast<size_t>(y) * 640 + x) * 4]; };
  for (int y : {0, 59, 420, 479}) {
    EXPECT_EQ(at(320, y)[0], 14) << y;
    EXPECT_EQ(at(320, y)[1], 12) << y;
    EXPECT_EQ(at(320, y)[2], 11) << y;
  }

  // A post that fails does not stop later pictures from being announced.
  video.ClearFramePosted();
  video.SetTargetWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7fff0001)));
  Feed(video, clip, 12, 13);
  video.SetTargetWindow(window);
  Feed(video, clip, 13, 14);
  EXPECT_TRUE(PeekMessageW(&msg, window, WM_APP + 2, WM_APP + 2, PM_REMOVE));

  // A new preview size builds a new texture, which the window sees by its generation.
  video.SetPreviewTarget(320, 180, true);
  Feed(video, clip, 14, 15);
  uint64_t after = 0;
  video.GetPreview(&texture, &after);
  EXPECT_GT(after, generation);
  video.Teardown();
  EXPECT_FALSE(video.PreviewReady());
  EXPECT_FALSE(video.HasDecoder());
  DestroyWindow(window);
}

// Each channel of the pixel within `tolerance` of the expected one.
::testing::AssertionResult Near(const uint8_t* got, const uint8_t* want, int tolerance) {
  for (int c = 0; c < 3; ++c) {
    if (std::abs(got[c] - want[c]) > tolerance) {
      return ::testing::AssertionFailure() << "BGR " << +got[0] << "," << +got[1] << "," << +got[2] << " against "
                                           << +want[0] << "," << +want[1] << "," << +want[2];
    }
  }
  return ::testing::AssertionSuccess();
}

// The snapshot is ffmpeg's decode within a few levels (the black-box video
// tests check that); the letter-boxed preview of the same picture must show
// the same colours where the picture is.
TEST_F(Video, ThePreviewShowsThePictureTheSnapshotSaved) {
  video.SetPreviewTarget(640, 480, true);
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring snapshot = std::wstring(dir) + L"orvane-same.png";
  DeleteFileW(snapshot.c_str());
  video.RequestSnapshot(snapshot);
  Clip clip = LoadClip("clip-1080p30.h264");
  video.Configure(1920, 1080, 30);
  // One picture at a time, until the snapshot is saved: the preview then
  // holds that same picture.
  for (size_t i = 0; i < 60 && GetFileAttributesW(snapshot.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    Feed(video, clip, i, i + 1);
  }
  UINT width = 0, height = 0;
  std::vector<uint8_t> saved;
  ASSERT_TRUE(ReadPng(snapshot, &width, &height, &saved));
  ASSERT_EQ(width, 1920u);
  Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
  uint64_t generation = 0;
  video.GetPreview(&texture, &generation);
  ASSERT_TRUE(texture);
  D3D11_TEXTURE2D_DESC desc{};
  std::vector<uint8_t> px = ReadTexture(video.Device(), texture.Get(), &desc);
  ASSERT_EQ(px.size(), 640u * 480 * 4);
  // Away from the frame number in the middle: smooth gradients, where a
  // third of the size differs from the whole by little.
  for (auto [x, y] : {std::pair{20, 20}, {600, 20}, {20, 340}, {600, 340}, {320, 40}}) {
    const uint8_t* preview = &px[(static_cast<size_t>(60 + y) * 640 + x) * 4];
    const uint8_t* full = &saved[(static_cast<size_t>(y * 3 + 1) * 1920 + x * 3 + 1) * 4];
    EXPECT_TRUE(Near(preview, full, 12)) << x << "," << y;
  }
}

TEST_F(Video, NobodyWatchingUntilAPreviewOrASnapshotIsWanted) {
  EXPECT_FALSE(video.IsSomeoneWatching());
  video.RequestSnapshot(L"x.png");
  EXPECT_TRUE(video.IsSomeoneWatching());
  video.RequestSnapshot(L"");
  video.SetPreviewTarget(100, 100, true);
  EXPECT_TRUE(video.IsSomeoneWatching());
  video.SetPreviewTarget(100, 100, false);
  EXPECT_FALSE(video.IsSomeoneWatching());
}

TEST_F(Video, LatencyNeedsAClockOffset) {
  EXPECT_EQ(video.LatencyMs(12345), -1e9);
  video.SetClockOffset(0);
  EXPECT_TRUE(video.ClockValid());
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  int64_t nowUs = static_cast<int64_t>(static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart));
  double ms = video.LatencyMs(nowUs - 40000);
  EXPECT_GE(ms, 40.0);
  EXPECT_LT(ms, 1000.0);
  video.ClearClock();
  EXPECT_EQ(video.LatencyMs(nowUs), -1e9);
}

}  // namespace
