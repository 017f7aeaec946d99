// Cost of one picture on the CPU path, next to a plain copy of the same
// source bytes.
#include <benchmark/benchmark.h>

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

void CopySource(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> dst(src.bytes.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.bytes.data(), src.bytes.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.bytes.size()));
}
BENCHMARK(CopySource);

void CameraNv12_1080To720(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  Nv12Target dst{y.data(), 1280, uv.data(), 1280, 1280, 720};
  CpuScratch scratch;
  for (auto _ : state) {
    bool ok = ConvertNv12(src.View(), dst, true, false, &scratch);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CameraNv12_1080To720);

void PreviewBgra_1080To692x392(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(692 * 392 * 4);
  CpuScratch scratch;
  for (auto _ : state) {
    bool ok = ConvertNv12ToBgra(src.View(), bgra.data(), 692 * 4, 692, 392, true, false, &scratch);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(PreviewBgra_1080To692x392);

void SnapshotBgra_1080(benchmark::State& state) {
  Source src;
  std::vector<uint8_t> bgra(1920 * 1080 * 4);
  CpuScratch scratch;
  for (auto _ : state) {
    bool ok = ConvertNv12ToBgra(src.View(), bgra.data(), 1920 * 4, 1920, 1080, false, false, &scratch);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(SnapshotBgra_1080);

}  // namespace

BENCHMARK_MAIN();
