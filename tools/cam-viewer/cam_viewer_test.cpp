#include <gtest/gtest.h>
#include <windows.h>
#include <mfobjects.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "viewer_core.h"

namespace {

ViewerOptions Parse(std::vector<std::wstring> args, std::string* error = nullptr) {
  ViewerOptions o;
  std::string e = ParseViewerOptions(args, &o);
  if (error) *error = e;
  else EXPECT_EQ(e, "");
  return o;
}

TEST(CamViewerOptions, ReadsEveryOptionAndKeepsDriveLettersInFilePaths) {
  ViewerOptions o = Parse({L"--dll", L"Z:\\cam.dll", L"--width", L"1280", L"--height", L"720", L"--fps", L"60",
                           L"--samples", L"12", L"--allocator", L"--png", L"3:C:\\out\\a.png", L"--raw",
                           L"0:b.nv12", L"--png", L"11:c.png", L"--list-types", L"--png", L"last:D:\\d.png"});
  EXPECT_EQ(o.dll, L"Z:\\cam.dll");
  EXPECT_EQ(o.width, 1280);
  EXPECT_EQ(o.height, 720);
  EXPECT_EQ(o.fps, 60);
  EXPECT_EQ(o.samples, 12);
  EXPECT_TRUE(o.allocator);
  EXPECT_TRUE(o.listTypes);
  ASSERT_EQ(o.png.size(), 3u);
  EXPECT_EQ(o.png[0].index, 3);
  EXPECT_EQ(o.png[0].path, L"C:\\out\\a.png");
  EXPECT_EQ(o.png[1].index, 11);
  EXPECT_EQ(o.png[2].index, kLastPicture);
  EXPECT_EQ(o.png[2].path, L"D:\\d.png");
  ASSERT_EQ(o.raw.size(), 1u);
  EXPECT_EQ(o.raw[0].index, 0);
  EXPECT_EQ(o.raw[0].path, L"b.nv12");
}

TEST(CamViewerOptions, DefaultsToThreeSecondsOfTheCurrentTypeAtItsRate) {
  ViewerOptions o = Parse({L"--dll", L"cam.dll"});
  EXPECT_EQ(o.width, 0);
  EXPECT_EQ(o.seconds, 3);
  EXPECT_EQ(o.samples, -1);
  EXPECT_FALSE(o.allocator);
  EXPECT_FALSE(o.eager);
  EXPECT_TRUE(Parse({L"--eager", L"--dll", L"cam.dll", L"--seconds", L"2"}).eager);
  EXPECT_EQ(Parse({L"--dll", L"cam.dll", L"--seconds", L"0.5"}).seconds, 0.5);
}

TEST(CamViewerOptions, AClassIdWithAStopEventRunsUntilToldUnlessATimeIsGiven) {
  ViewerOptions o = Parse({L"--clsid", L"{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}", L"--stop-event", L"Local\\x",
                           L"--host", L"42"});
  EXPECT_EQ(o.dll, L"");
  EXPECT_EQ(o.hostPid, 42);
  EXPECT_TRUE(o.untilStopped);
  EXPECT_FALSE(Parse({L"--clsid", L"{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}", L"--stop-event", L"x", L"--seconds",
                      L"2"})
                   .untilStopped);
  EXPECT_FALSE(Parse({L"--clsid", L"{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}"}).untilStopped);
}

TEST(CamViewerOptions, RefusesWhatCannotBeRun) {
  const std::vector<std::vector<std::wstring>> bad = {
      {},
      {L"--width", L"640", L"--height", L"360"},
      {L"--dll"},
      {L"--dll", L"c.dll", L"--width", L"640"},
      {L"--dll", L"c.dll", L"--height", L"360"},
      {L"--dll", L"c.dll", L"--fps", L"30"},
      {L"--dll", L"c.dll", L"--width", L"0", L"--height", L"360"},
      {L"--dll", L"c.dll", L"--width", L"640x", L"--height", L"360"},
      {L"--dll", L"c.dll", L"--seconds", L"0"},
      {L"--dll", L"c.dll", L"--seconds", L"2", L"--samples", L"5"},
      {L"--dll", L"c.dll", L"--samples", L"-1"},
      {L"--dll", L"c.dll", L"--png", L"a.png"},
      {L"--dll", L"c.dll", L"--png", L"x:a.png"},
      {L"--dll", L"c.dll", L"--raw", L"4:"},
      {L"--dll", L"c.dll", L"--mirror"},
      {L"--dll", L"c.dll", L"--eager", L"1"},
      {L"--dll", L"c.dll", L"--clsid", L"{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}"},
      {L"--clsid", L"OrvaneCam.Fuente"},
      {L"--clsid", L"{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}", L"--host", L"0"},
  };
  for (const auto& args : bad) {
    std::string error;
    Parse(args, &error);
    EXPECT_NE(error, "") << args.size() << " arguments";
  }
}

// The camera's six types, in its order.
const std::vector<VideoTypeInfo> kCameraTypes = {
    {1920, 1080, 30, 1}, {1920, 1080, 60, 1}, {1280, 720, 30, 1},
    {1280, 720, 60, 1},  {3840, 2160, 30, 1}, {640, 360, 30, 1},
};

TEST(CamViewerTypes, PicksTheFirstTypeOfTheSizeUnlessTheRateIsGiven) {
  EXPECT_EQ(PickType(kCameraTypes, 1280, 720, 0), 2);
  EXPECT_EQ(PickType(kCameraTypes, 1280, 720, 60), 3);
  EXPECT_EQ(PickType(kCameraTypes, 640, 360, 0), 5);
  EXPECT_EQ(PickType(kCameraTypes, 640, 360, 60), -1);
  EXPECT_EQ(PickType(kCameraTypes, 720, 1280, 0), -1);
  EXPECT_EQ(PickType({}, 1280, 720, 0), -1);
}

TEST(CamViewerTypes, FractionalRatesMatchTheirUsualNames) {
  std::vector<VideoTypeInfo> types = {{1280, 720, 30, 1}, {1280, 720, 30000, 1001}, {1280, 720, 0, 0}};
  EXPECT_EQ(PickType(types, 1280, 720, 29.97), 1);
  EXPECT_EQ(PickType(types, 1280, 720, 30), 0);
  EXPECT_EQ(PickType({{1280, 720, 0, 0}}, 1280, 720, 30), -1);
}

TEST(CamViewerLines, WriteOneJsonObjectPerLine) {
  JsonLine line;
  line.Num("t", 12.46, 1).Str("queue", "source").Int("time", -5).Bool("done", true).Null("time").Fps("fps", 60, 1)
      .Fps("ntsc", 30000, 1001).Fps("none", 30, 0);
  EXPECT_EQ(line.Text(),
            "{\"t\":12.5,\"queue\":\"source\",\"time\":-5,\"done\":true,\"time\":null,\"fps\":60,\"ntsc\":29.970,"
            "\"none\":null}\n");
  EXPECT_EQ(JsonLine().Str("p", "C:\\a \"b\"\n\x1f").Text(), "{\"p\":\"C:\\\\a \\\"b\\\"\\u000a\\u001f\"}\n");
  EXPECT_EQ(JsonLine().Num("x", std::numeric_limits<double>::infinity(), 1).Text(), "{\"x\":null}\n");
  EXPECT_EQ(JsonLine().Text(), "{}\n");
}

// The names are kept as numbers in portable code; check them against the
// system's own values.
TEST(CamViewerLines, NameEventsAndStatuses) {
  EXPECT_EQ(EventName(MENewStream), "MENewStream");
  EXPECT_EQ(EventName(MEUpdatedStream), "MEUpdatedStream");
  EXPECT_EQ(EventName(MESourceStarted), "MESourceStarted");
  EXPECT_EQ(EventName(MEStreamStarted), "MEStreamStarted");
  EXPECT_EQ(EventName(MEMediaSample), "MEMediaSample");
  EXPECT_EQ(EventName(MESourceStopped), "MESourceStopped");
  EXPECT_EQ(EventName(MEStreamStopped), "MEStreamStopped");
  EXPECT_EQ(EventName(MEEndOfStream), "MEEndOfStream");
  EXPECT_EQ(EventName(MEStreamFormatChanged), "MEStreamFormatChanged");
  EXPECT_EQ(EventName(MEError), "MEError");
  EXPECT_EQ(EventName(MESessionStarted), "event 103");
  EXPECT_EQ(HexStatus(0), "0x00000000");
  EXPECT_EQ(HexStatus(0x80040111u), "0x80040111");
}

// A 6x4 NV12 picture in a buffer with 8-byte rows: luma r*10+c, chroma
// 100+r*10+c, padding 0xEE.
std::vector<uint8_t> PaddedPicture() {
  std::vector<uint8_t> b(8 * 6, 0xEE);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 6; ++c) b[static_cast<size_t>(r * 8 + c)] = static_cast<uint8_t>(r * 10 + c);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 6; ++c) b[static_cast<size_t>(32 + r * 8 + c)] = static_cast<uint8_t>(100 + r * 10 + c);
  return b;
}

TEST(CamViewerPictures, PackingDropsThePaddingAndKeepsThePlanesInOrder) {
  std::vector<uint8_t> buffer = PaddedPicture();
  std::vector<uint8_t> packed = PackNv12(Nv12InBuffer(buffer.data(), 8, 6, 4));
  ASSERT_EQ(packed.size(), 6u * 4 * 3 / 2);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 6; ++c) EXPECT_EQ(packed[static_cast<size_t>(r * 6 + c)], r * 10 + c);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 6; ++c) EXPECT_EQ(packed[static_cast<size_t>(24 + r * 6 + c)], 100 + r * 10 + c);
}

TEST(CamViewerPictures, OddSizesKeepTheirLastChromaRowAndColumn) {
  std::vector<uint8_t> buffer(6 * 3 + 6 * 2, 7);
  std::vector<uint8_t> packed = PackNv12(Nv12InBuffer(buffer.data(), 6, 5, 3));
  EXPECT_EQ(packed.size(), 5u * 3 + 6 * 2);
  EXPECT_EQ(Nv12BufferBytes(6, 5, 3), buffer.size());
}

TEST(CamViewerPictures, BufferSizeNeedsNoPaddingAfterTheLastRow) {
  EXPECT_EQ(Nv12BufferBytes(1280, 1280, 720), 1280u * 720 * 3 / 2);
  EXPECT_EQ(Nv12BufferBytes(8, 6, 4), 8u * 5 + 6);
}

TEST(CamViewerPictures, LumaMeanCountsOnlyTheVisibleLuma) {
  std::vector<uint8_t> buffer = PaddedPicture();
  // Rows average 2.5, 12.5, 22.5, 32.5.
  EXPECT_DOUBLE_EQ(LumaMean(Nv12InBuffer(buffer.data(), 8, 6, 4)), 17.5);
  std::vector<uint8_t> black(1280 * 720 * 3 / 2, 128);
  std::fill_n(black.begin(), 1280 * 720, uint8_t{16});
  EXPECT_DOUBLE_EQ(LumaMean(Nv12InBuffer(black.data(), 1280, 1280, 720)), 16.0);
}

// A picture of ffmpeg's from the clip fixture (see CMakeLists.txt): packed
// NV12 of that size.
std::vector<uint8_t> ClipPicture(const std::string& name, int width, int height) {
  const char* folder = std::getenv("ORVANE_FRAMES");
  std::string path = std::string("Z:") + (folder ? folder : "") + "/" + name + ".nv12";
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(bytes.size(), static_cast<size_t>(width) * height * 3 / 2) << path << " (ctest makes it)";
  return bytes;
}

TEST(CamViewerFrameNumbers, AreReadFromDecodedClipsAtTheirSizeAndScaledDown) {
  struct Case {
    const char* name;
    int width, height, frame;
  };
  // The same picture as decoded and after bilinear scales (the camera's
  // 1080p -> 720p), 4K by nearest neighbour, and frame 0, whose band holds
  // only its markers.
  for (const Case& c : {Case{"1080p-43", 1920, 1080, 43}, Case{"1080p-43-720", 1280, 720, 43},
                        Case{"1080p-43-360", 640, 360, 43}, Case{"4k-22-720", 1280, 720, 22},
                        Case{"720p-0-360", 640, 360, 0}}) {
    std::vector<uint8_t> picture = ClipPicture(c.name, c.width, c.height);
    if (picture.empty()) continue;
    EXPECT_EQ(ReadFrameNumber(Nv12InBuffer(picture.data(), c.width, c.width, c.height)), c.frame) << c.name;
  }
}

TEST(CamViewerFrameNumbers, APictureWithoutTheBandHasNone) {
  std::vector<uint8_t> picture = ClipPicture("1080p-43", 1920, 1080);
  ASSERT_FALSE(picture.empty());
  // The clip's picture above its band: gradients and the drawn number.
  Nv12Image above = Nv12InBuffer(picture.data(), 1920, 1920, 1080);
  above.height = 990;
  EXPECT_EQ(ReadFrameNumber(above), -1);
  for (uint8_t level : {uint8_t{16}, uint8_t{235}, uint8_t{128}}) {
    std::vector<uint8_t> flat(1280 * 720 * 3 / 2, 128);
    std::fill_n(flat.begin(), 1280 * 720, level);
    EXPECT_EQ(ReadFrameNumber(Nv12InBuffer(flat.data(), 1280, 1280, 720)), -1) << int{level};
  }
}

// Every bit, also those the 2-second clips never set, at a size that is no
// multiple of the blocks, in a buffer with padded rows.
TEST(CamViewerFrameNumbers, AllTwelveBitsAreRead) {
  const int width = 1000, height = 562, pitch = 1024;
  for (int number : {0xA5A, 0x5A5, 4095, 1}) {
    std::vector<uint8_t> buffer(static_cast<size_t>(pitch) * height * 3 / 2, 128);
    for (int y = height * 11 / 12; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        int block = x * 16 / width;
        bool white = block == 0 || (block >= 2 && block < 14 && (number >> (block - 2) & 1));
        buffer[static_cast<size_t>(y) * pitch + x] = white ? 235 : 16;
      }
    }
    EXPECT_EQ(ReadFrameNumber(Nv12InBuffer(buffer.data(), pitch, width, height)), number);
    // A light block where the band is black beyond the twelfth bit: not the band.
    for (int y = height * 11 / 12; y < height; ++y)
      std::fill_n(buffer.begin() + static_cast<ptrdiff_t>(y) * pitch + width * 14 / 16, width / 16, uint8_t{235});
    EXPECT_EQ(ReadFrameNumber(Nv12InBuffer(buffer.data(), pitch, width, height)), -1) << number;
  }
}

TEST(CamViewerSchedule, DueTimesFollowTheFrameCountWithoutDrift) {
  PullSchedule s(30, 1);
  EXPECT_EQ(s.NextDueUs(), 0);
  // Waking up to half a frame late each time moves nothing.
  for (int n = 1; n <= 30; ++n) s.Pulled(s.NextDueUs() + 16000);
  EXPECT_EQ(s.NextDueUs(), 1000000);
  PullSchedule ntsc(30000, 1001);
  for (int n = 0; n < 30000; ++n) ntsc.Pulled(ntsc.NextDueUs());
  EXPECT_EQ(ntsc.NextDueUs(), 1001000000);
}

TEST(CamViewerSchedule, StartsAgainAfterFallingAFrameBehindInsteadOfBursting) {
  PullSchedule s(60, 1);
  s.Pulled(0);
  EXPECT_EQ(s.NextDueUs(), 16666);
  s.Pulled(40000);  // less than a frame behind: the next pull is due at once, on the old schedule
  EXPECT_EQ(s.NextDueUs(), 33333);
  s.Pulled(200000);  // that pull took ten frames
  EXPECT_EQ(s.NextDueUs(), 200000);
  s.Pulled(200000);
  EXPECT_EQ(s.NextDueUs(), 216666);
}

TEST(CamViewerSchedule, TypesWithoutARateArePulledAtThirty) {
  EXPECT_EQ(PullSchedule(0, 0).PeriodUs(), 33333);
  EXPECT_EQ(PullSchedule(60, 0).PeriodUs(), 33333);
}

// cam-viewer.exe itself, started as the tests' neighbour.
struct Ran {
  DWORD exit = 0;
  std::string out, err;
};

std::wstring Here() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each run writes files of its own, so no run can meet a file that the one
// before still holds open.
Ran RunViewer(const std::wstring& args) {
  static int runs = 0;
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring base = std::wstring(dir) + L"cam-viewer-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(++runs);
  std::wstring outPath = base + L".out", errPath = base + L".err";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_NE(err, INVALID_HANDLE_VALUE);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  std::wstring command = L"\"" + Here() + L"cam-viewer.exe\" " + args;
  PROCESS_INFORMATION pi{};
  Ran ran;
  ran.exit = 9999;
  bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  EXPECT_TRUE(started) << GetLastError();
  if (started) {
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &ran.exit);
    else TerminateProcess(pi.hProcess, 9999);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  ran.out = ReadAll(outPath);
  ran.err = ReadAll(errPath);
  DeleteFileW(outPath.c_str());
  DeleteFileW(errPath.c_str());
  return ran;
}

TEST(CamViewerProgram, AMissingDllIsReportedWithExitCodeTwo) {
  Ran r = RunViewer(L"--dll C:\\nowhere\\OrvaneCam.dll");
  EXPECT_EQ(r.exit, 2u);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("LoadLibraryW C:\\nowhere\\OrvaneCam.dll: 0x8007007e"), std::string::npos) << r.err;
}

TEST(CamViewerProgram, ADllWithoutTheEntryPointIsReportedWithExitCodeTwo) {
  Ran r = RunViewer(L"--dll kernel32.dll");
  EXPECT_EQ(r.exit, 2u);
  EXPECT_NE(r.err.find("GetProcAddress DllGetClassObject: 0x"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"done\":true,\"samples\":0,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"exit\":2}"), std::string::npos) << r.out;
}

TEST(CamViewerProgram, ADllWithoutTheCameraClassIsReportedWithExitCodeTwo) {
  // ole32 serves classes of its own only.
  Ran r = RunViewer(L"--dll ole32.dll --samples 1");
  EXPECT_EQ(r.exit, 2u);
  EXPECT_NE(r.err.find("DllGetClassObject: 0x80040111"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"exit\":2}"), std::string::npos) << r.out;
}

TEST(CamViewerProgram, ARunUntilStoppedWithNothingThatCouldStopItIsRefused) {
  // The host is gone and its stop event with it: pulling on would never end.
  Ran r = RunViewer(L"--clsid {7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17} --stop-event Local\\NoSuchStopEvent");
  EXPECT_EQ(r.exit, 64u);
  EXPECT_NE(r.err.find("OpenEventW Local\\NoSuchStopEvent: 0x80070002"), std::string::npos) << r.err;
}

TEST(CamViewerProgram, BadArgumentsAreRefusedBeforeAnythingIsLoaded) {
  Ran r = RunViewer(L"--dll ole32.dll --width 640");
  EXPECT_EQ(r.exit, 64u);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("usage: cam-viewer"), std::string::npos) << r.err;
}

}  // namespace
