// The screen copies that run on every player tick, playing and paused, next
// to memcpy of the same 720 x 576 frame into an 800-byte-pitch screen in the
// same run: the plain row copy, and the keyed copy of a frame over the
// background (index 127 lets the background show) for frames with no key,
// a quarter of keys in blocks, a quarter at random, three quarters in blocks
// (shapes over a transparent frame, as the demo draws them); and the keyed
// copy byte by byte.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "playback/composition.h"

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;
constexpr int kPitch = 800;

std::vector<std::uint8_t> Frame(int keys) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> frame(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      auto value = static_cast<std::uint8_t>(130 + (x / 16 + y / 16) % 100);
      if (keys == 1 && (x / 32 + y / 32) % 4 == 0) value = kiv::TransparentIndex;
      if (keys == 3 && (x / 32 + y / 32) % 4 != 0) value = kiv::TransparentIndex;
      if (keys == 2 && random() % 4 == 0) value = kiv::TransparentIndex;
      frame[static_cast<std::size_t>(y * kWidth + x)] = value;
    }
  }
  return frame;
}

void BM_MemcpyRows(benchmark::State& state) {
  const std::vector<std::uint8_t> frame = Frame(0);
  std::vector<std::uint8_t> screen(kPitch * kHeight);
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) {
      std::memcpy(screen.data() + y * kPitch, frame.data() + y * kWidth, kWidth);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_MemcpyRows);

void BM_CopyRows(benchmark::State& state) {
  const std::vector<std::uint8_t> frame = Frame(0);
  std::vector<std::uint8_t> screen(kPitch * kHeight);
  for (auto _ : state) {
    kiv::CopyRows(frame.data(), screen.data(), kHeight, kWidth, 0, kPitch - kWidth);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_CopyRows);

void BM_CopyRowsKeyed(benchmark::State& state) {
  const std::vector<std::uint8_t> frame = Frame(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> screen(kPitch * kHeight, 77);
  for (auto _ : state) {
    kiv::CopyRowsKeyed(frame.data(), screen.data(), kHeight, kWidth, 0, kPitch - kWidth);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_CopyRowsKeyed)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->ArgNames({"none0_quarter1_scattered2_threequarters3"});

// The byte-at-a-time keyed copy, the plain way to write it: the baseline the
// word-wise one is measured against.
void BM_KeyedByteLoop(benchmark::State& state) {
  const std::vector<std::uint8_t> frame = Frame(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> screen(kPitch * kHeight, 77);
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) {
      const std::uint8_t* from = frame.data() + y * kWidth;
      std::uint8_t* to = screen.data() + y * kPitch;
      for (int x = 0; x < kWidth; ++x) {
        if (from[x] != kiv::TransparentIndex) to[x] = from[x];
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_KeyedByteLoop)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->ArgNames({"none0_quarter1_scattered2_threequarters3"});

}  // namespace

BENCHMARK_MAIN();
