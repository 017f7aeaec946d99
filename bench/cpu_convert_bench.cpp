// Cost of one picture on the CPU path. Each case has its baseline beside it:
// the same work done by libyuv alone (its BT.709 colours are off in blue,
// which is why ours exist), so the ratio of the two says what exact colours
// and our bars cost. A plain copy of the source bytes gives the floor.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <cstring>
#include <vector>

#include "app/video/cpu_convert.h"

namespace {

struct Source {
  int w = 1920, h = 1080;
  std::vector<uint8_t> bytes;
  Source() : bytes(static_cast<size_t>(w) * h * 3 / 2) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(16 + (i * 7 + i / 1920) % 220);
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
BENCHMARK(CopySource);

// The camera: 1080p to 720p NV12 with fit (same aspect, so no bars).
void CameraNv12_1080To720(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Target dst{y.data(), 1280, uv.data(), 1280, 1280, 720};
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12(src.View(), dst, true, false, &scratch); });
}
BENCHMARK(CameraNv12_1080To720);

void CameraNv12_1080To720_BaselineLibyuvScale(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Image s = src.View();
  Run(state, [&] {
    return libyuv::NV12Scale(s.y, s.yPitch, s.uv, s.uvPitch, s.width, s.height, y.data(), 1280, uv.data(), 1280,
                             1280, 720, libyuv::kFilterBilinear) == 0;
  });
}
BENCHMARK(CameraNv12_1080To720_BaselineLibyuvScale);

// The same camera picture mirrored, and pillar-boxed (portrait phone).
void CameraNv12_1080To720_Mirrored(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Target dst{y.data(), 1280, uv.data(), 1280, 1280, 720};
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12(src.View(), dst, true, true, &scratch); });
}
BENCHMARK(CameraNv12_1080To720_Mirrored);

void CameraNv12_Portrait1080To720(benchmark::State& state) {
  Source src;
  Nv12Image portrait{src.bytes.data(), 1080, src.bytes.data() + 1080 * 1920, 1080, 1080, 1920};
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Target dst{y.data(), 1280, uv.data(), 1280, 1280, 720};
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12(portrait, dst, true, false, &scratch); });
}
BENCHMARK(CameraNv12_Portrait1080To720);

// The preview: 1080p to 692 x 392 BGRA with fit (within 3 %, so stretched).
void PreviewBgra_1080To692x392(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(692 * 392 * 4);
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12ToBgra(src.View(), bgra.data(), 692 * 4, 692, 392, true, false, &scratch); });
}
BENCHMARK(PreviewBgra_1080To692x392);

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
BENCHMARK(PreviewBgra_1080To692x392_BaselineLibyuvScaleAndBt709);

void PreviewBgra_1080To692x392_Mirrored(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(692 * 392 * 4);
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12ToBgra(src.View(), bgra.data(), 692 * 4, 692, 392, true, true, &scratch); });
}
BENCHMARK(PreviewBgra_1080To692x392_Mirrored);

// The snapshot: 1080p to 1080p BGRA, no scaling.
void SnapshotBgra_1080(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(1920 * 1080 * 4);
  CpuScratch scratch;
  Run(state, [&] { return ConvertNv12ToBgra(src.View(), bgra.data(), 1920 * 4, 1920, 1080, false, false, &scratch); });
}
BENCHMARK(SnapshotBgra_1080);

// What the GCC build for Windows runs: no AVX2 rows there.
void SnapshotBgra_1080_WithoutAvx2(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(1920 * 1080 * 4);
  CpuScratch scratch;
  libyuv::MaskCpuFlags(~libyuv::kCpuHasAVX2);
  Run(state, [&] { return ConvertNv12ToBgra(src.View(), bgra.data(), 1920 * 4, 1920, 1080, false, false, &scratch); });
  libyuv::MaskCpuFlags(-1);
}
BENCHMARK(SnapshotBgra_1080_WithoutAvx2);

void SnapshotBgra_1080_BaselineLibyuvBt709(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(1920 * 1080 * 4);
  Nv12Image s = src.View();
  Run(state, [&] {
    return libyuv::NV12ToARGBMatrix(s.y, s.yPitch, s.uv, s.uvPitch, bgra.data(), 1920 * 4,
                                    &libyuv::kYuvH709Constants, 1920, 1080) == 0;
  });
}
BENCHMARK(SnapshotBgra_1080_BaselineLibyuvBt709);

}  // namespace

BENCHMARK_MAIN();
