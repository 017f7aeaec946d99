// Cost of one picture on the CPU path, natively and in the Windows build
// (under Wine, which runs the code as it is). Each case has its baseline
// beside it: the same work done by libyuv alone, built by the same compiler
// with the same flags (its BT.709 colours are off in blue, which is why ours
// exist), so the ratio of the two says what exact colours and our bars
// cost. A plain copy of the source bytes gives the floor.
//
// Every case times wall clock: under Wine the process's CPU time advances
// in steps of several milliseconds.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/video/cpu_convert.h"
#include "table_reporter.h"

namespace {

struct Source {
  int w, h;
  std::vector<uint8_t> bytes;
  explicit Source(int width = 1920, int height = 1080)
      : w(width), h(height), bytes(static_cast<size_t>(w) * h * 3 / 2) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(16 + (i * 7 + i / w) % 220);
  }
  Nv12Image View() const { return {bytes.data(), w, bytes.data() + static_cast<size_t>(w) * h, w, w, h}; }
};

template <typename Work>
void Run(benchmark::State& state, Work work) {
  for (auto _ : state) {
    bool ok = work();
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}

void CopySource(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> dst(src.bytes.size());
  Run(state, [&] {
    std::memcpy(dst.data(), src.bytes.data(), src.bytes.size());
    benchmark::DoNotOptimize(dst.data());
    return true;
  });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.bytes.size()));
}
BENCHMARK(CopySource)->UseRealTime();

// The camera: 1080p to 720p NV12 with fit (same aspect, so no bars).
void CameraNv12_1080To720(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Target dst{y.data(), 1280, uv.data(), 1280, 1280, 720};
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12(src.View(), dst, true, false, &scratch); });
}
BENCHMARK(CameraNv12_1080To720)->UseRealTime();

void CameraNv12_1080To720_BaselineLibyuvScale(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Image s = src.View();
  Run(state, [&] {
    return libyuv::NV12Scale(s.y, s.yPitch, s.uv, s.uvPitch, s.width, s.height, y.data(), 1280, uv.data(), 1280,
                             1280, 720, libyuv::kFilterBilinear) == 0;
  });
}
BENCHMARK(CameraNv12_1080To720_BaselineLibyuvScale)->UseRealTime();

// The same camera picture mirrored, and pillar-boxed (portrait phone).
void CameraNv12_1080To720_Mirrored(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Target dst{y.data(), 1280, uv.data(), 1280, 1280, 720};
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12(src.View(), dst, true, true, &scratch); });
}
BENCHMARK(CameraNv12_1080To720_Mirrored)->UseRealTime();

void CameraNv12_Portrait1080To720(benchmark::State& state) {
  Source src;
  Nv12Image portrait{src.bytes.data(), 1080, src.bytes.data() + 1080 * 1920, 1080, 1080, 1920};
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Target dst{y.data(), 1280, uv.data(), 1280, 1280, 720};
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12(portrait, dst, true, false, &scratch); });
}
BENCHMARK(CameraNv12_Portrait1080To720)->UseRealTime();

// The preview: 1080p to 692 x 392 BGRA with fit (within 3 %, so stretched).
void PreviewBgra_1080To692x392(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(692 * 392 * 4);
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12ToBgra(src.View(), bgra.data(), 692 * 4, 692, 392, true, false, &scratch); });
}
BENCHMARK(PreviewBgra_1080To692x392)->UseRealTime();

void PreviewBgra_1080To692x392_BaselineLibyuvScaleAndBt709(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(692 * 392 * 4), y(692 * 392), uv(692 * 196);
  Nv12Image s = src.View();
  Run(state, [&] {
    return libyuv::NV12Scale(s.y, s.yPitch, s.uv, s.uvPitch, s.width, s.height, y.data(), 692, uv.data(), 692, 692,
                             392, libyuv::kFilterBilinear) == 0 &&
           libyuv::NV12ToARGBMatrix(y.data(), 692, uv.data(), 692, bgra.data(), 692 * 4, &libyuv::kYuvH709Constants,
                                    692, 392) == 0;
  });
}
BENCHMARK(PreviewBgra_1080To692x392_BaselineLibyuvScaleAndBt709)->UseRealTime();

void PreviewBgra_1080To692x392_Mirrored(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(692 * 392 * 4);
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12ToBgra(src.View(), bgra.data(), 692 * 4, 692, 392, true, true, &scratch); });
}
BENCHMARK(PreviewBgra_1080To692x392_Mirrored)->UseRealTime();

// A whole picture to BGRA at its own size, with our rows (the SSE2 ones
// alone when asked) or with libyuv's.
void WholeBgra(benchmark::State& state, int w, int h, bool withoutAvx2) {
  Source src(w, h);
  std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
  CpuScratch scratch;
  if (withoutAvx2) libyuv::MaskCpuFlags(~libyuv::kCpuHasAVX2);
  Run(state, [&] { return ConvertNv12ToBgra(src.View(), bgra.data(), w * 4, w, h, false, false, &scratch); });
  libyuv::MaskCpuFlags(-1);
}

void WholeBgraLibyuv(benchmark::State& state, int w, int h) {
  Source src(w, h);
  std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
  Nv12Image s = src.View();
  Run(state, [&] {
    return libyuv::NV12ToARGBMatrix(s.y, s.yPitch, s.uv, s.uvPitch, bgra.data(), w * 4, &libyuv::kYuvH709Constants,
                                    w, h) == 0;
  });
}

// The snapshot: 1080p to 1080p BGRA, no scaling; then the SSE2 rows alone,
// as on a CPU without AVX2.
void SnapshotBgra_1080(benchmark::State& state) { WholeBgra(state, 1920, 1080, false); }
BENCHMARK(SnapshotBgra_1080)->UseRealTime();
void SnapshotBgra_1080_WithoutAvx2(benchmark::State& state) { WholeBgra(state, 1920, 1080, true); }
BENCHMARK(SnapshotBgra_1080_WithoutAvx2)->UseRealTime();
void SnapshotBgra_1080_BaselineLibyuvBt709(benchmark::State& state) { WholeBgraLibyuv(state, 1920, 1080); }
BENCHMARK(SnapshotBgra_1080_BaselineLibyuvBt709)->UseRealTime();

// A picture that stays in the L2 cache with its output, so that arithmetic,
// not memory, sets the pace: where the width of the vector rows shows.
void SmallBgra_320x180(benchmark::State& state) { WholeBgra(state, 320, 180, false); }
BENCHMARK(SmallBgra_320x180)->UseRealTime();
void SmallBgra_320x180_WithoutAvx2(benchmark::State& state) { WholeBgra(state, 320, 180, true); }
BENCHMARK(SmallBgra_320x180_WithoutAvx2)->UseRealTime();
void SmallBgra_320x180_BaselineLibyuvBt709(benchmark::State& state) { WholeBgraLibyuv(state, 320, 180); }
BENCHMARK(SmallBgra_320x180_BaselineLibyuvBt709)->UseRealTime();

// Figures are only worth having for a conversion that is right: where this
// build has AVX2 rows, they must give the bytes of the SSE2 rows, at the
// snapshot's size and at one that leaves every kind of row end.
bool WideRowsAgree() {
  std::mt19937 random(709);
  CpuScratch scratch;
  for (auto [w, h] : {std::pair{1920, 1080}, std::pair{333, 97}}) {
    std::vector<uint8_t> bytes(static_cast<size_t>(w) * h + static_cast<size_t>((w + 1) / 2) * 2 * ((h + 1) / 2));
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    Nv12Image src{bytes.data(), w, bytes.data() + static_cast<size_t>(w) * h, (w + 1) / 2 * 2, w, h};
    for (bool mirror : {false, true}) {
      std::vector<uint8_t> wide(static_cast<size_t>(w) * h * 4), narrow(wide.size());
      bool converted = ConvertNv12ToBgra(src, wide.data(), w * 4, w, h, false, mirror, &scratch);
      libyuv::MaskCpuFlags(~libyuv::kCpuHasAVX2);
      converted = ConvertNv12ToBgra(src, narrow.data(), w * 4, w, h, false, mirror, &scratch) && converted;
      libyuv::MaskCpuFlags(-1);
      if (!converted || wide != narrow) {
        std::fprintf(stderr, "%dx%d%s: the AVX2 rows differ from the SSE2 rows\n", w, h, mirror ? " mirrored" : "");
        return false;
      }
    }
  }
  return true;
}

std::string Heading() {
#ifdef _WIN32
  std::string heading = "Conversion per picture, Windows build";
#else
  std::string heading = "Conversion per picture, native build";
#endif
#if defined(__clang__)
  heading += " (clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) + ")";
#elif defined(__GNUC__)
  heading += " (GCC " + std::to_string(__GNUC__) + ")";
#endif
  heading += libyuv::TestCpuFlag(libyuv::kCpuHasAVX2) ? ", CPU with AVX2" : ", CPU without AVX2";
  return heading;
}

}  // namespace

int main(int argc, char** argv) {
  if (!WideRowsAgree()) return 1;
  return RunAsTable(argc, argv, Heading());
}
