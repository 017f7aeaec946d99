// Feeds an H.264 clip through the program's video pipeline, the way the
// phone session does, and prints what came out as one JSON line. The tests
// use it to compare the pipeline's pictures with ffmpeg's.
//
// video-probe --clip F --width W --height H [--fps N] [--frames N]
//             [--snapshot PNG] [--mirror] [--preview WxH] [--log F]
#include <windows.h>
#include <mfapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "annexb.h"
#include "app/core/log.h"
#include "app/video/video_pipeline.h"
#include "common/text_win.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring clip, snapshot, log;
  int width = 0, height = 0, fps = 30, frames = -1, previewW = 0, previewH = 0;
  bool mirror = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    bool more = i + 1 < argc;
    if (a == L"--clip" && more) clip = argv[++i];
    else if (a == L"--width" && more) width = _wtoi(argv[++i]);
    else if (a == L"--height" && more) height = _wtoi(argv[++i]);
    else if (a == L"--fps" && more) fps = _wtoi(argv[++i]);
    else if (a == L"--frames" && more) frames = _wtoi(argv[++i]);
    else if (a == L"--snapshot" && more) snapshot = argv[++i];
    else if (a == L"--log" && more) log = argv[++i];
    else if (a == L"--mirror") mirror = true;
    else if (a == L"--preview" && more && swscanf(argv[++i], L"%dx%d", &previewW, &previewH) == 2) {}
    else {
      fwprintf(stderr, L"video-probe: bad argument %ls\n", a.c_str());
      return 64;
    }
  }
  LogOpen(log);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  MFStartup(MF_VERSION, MFSTARTUP_LITE);

  std::ifstream in(WideToUtf8(clip), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<AccessUnit> units = SplitAccessUnits(bytes.data(), bytes.size());
  if (units.empty()) {
    fwprintf(stderr, L"video-probe: no access units in %ls\n", clip.c_str());
    return 2;
  }
  VideoPipeline video;
  if (!video.InitGraphics()) return 3;
  video.SetMirror(mirror);
  if (previewW > 0) video.SetPreviewTarget(previewW, previewH, true);
  if (!snapshot.empty()) video.RequestSnapshot(snapshot);
  video.Configure(width, height, fps);
  size_t count = frames < 0 ? units.size() : static_cast<size_t>(frames);
  for (size_t i = 0; i < count; ++i) {
    const AccessUnit& u = units[i % units.size()];
    video.Decode(bytes.data() + u.offset, u.size, static_cast<int64_t>(i) * 1000000 / fps, u.keyframe, true);
  }
  std::printf(
      "{\"units\":%zu,\"decoded\":%llu,\"skipped\":%llu,\"coded\":[%u,%u],\"display\":[%u,%u],"
      "\"hardware\":%d,\"gpu\":%d,\"decoder\":%d,\"previewReady\":%d}\n",
      count, video.DecodedFrames(), video.SkippedFrames(), video.CodedWidth(), video.CodedHeight(),
      video.DisplayWidth(), video.DisplayHeight(), video.Hardware() ? 1 : 0, video.HasVideoProcessing() ? 1 : 0,
      video.HasDecoder() ? 1 : 0, video.PreviewReady() ? 1 : 0);
  std::fflush(stdout);
  video.Close();
  MFShutdown();
  LogClose();
  return 0;
}
