// The camera DLL's cost per sample: filling an NV12 sample from the block,
// next to a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "common/camera_block.h"

namespace {

constexpr uint32_t kW = 1920, kH = 1080;
constexpr size_t kPicture = static_cast<size_t>(kW) * kH * 3 / 2;

struct PublishedBlock {
  std::unique_ptr<uint8_t[]> bytes{new uint8_t[kBlockSize]()};
  PublishedBlock() {
    uint8_t* slot = SlotOf(bytes.get(), 1);
    for (size_t i = 0; i < kPicture; ++i) slot[i] = static_cast<uint8_t>(16 + (i * 7) % 220);
    PublishSlot(HeaderOf(bytes.get()), 1, kW, kH, 1000);
  }
};

// Baseline: the bytes of one 1080p picture, copied once.
void CopyPicture1080(benchmark::State& state) {
  PublishedBlock block;
  std::vector<uint8_t> sample(kPicture);
  for (auto _ : state) {
    std::memcpy(sample.data(), SlotOf(block.bytes.get(), 1), kPicture);
    benchmark::DoNotOptimize(sample.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CopyPicture1080);

void FillSample(benchmark::State& state, uint32_t width, uint32_t height) {
  PublishedBlock block;
  ReaderState reader;
  std::vector<uint8_t> sample(static_cast<size_t>(width) * height * 3 / 2);
  Nv12Destination out{sample.data(), width, width, height};
  for (auto _ : state) {
    FillFrameFrom(block.bytes.get(), &reader, out, 30, 1001);
    benchmark::DoNotOptimize(sample.data());
    benchmark::ClobberMemory();
  }
}
// A 1080p sample from a 1080p slot: against CopyPicture1080.
BENCHMARK_CAPTURE(FillSample, Slot1080ToSample1080, 1920u, 1080u);
// The camera's size changed after the picture was written: scaled.
BENCHMARK_CAPTURE(FillSample, Slot1080ToSample720, 1280u, 720u);

}  // namespace

BENCHMARK_MAIN();
