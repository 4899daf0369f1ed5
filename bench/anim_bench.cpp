// Frame codec and loader speed, each next to its baseline in the same run:
// Decode against memset and memcpy of the same 414,720 bytes, LoadAnimation
// against a plain sequential read of the same file.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "anim/animation_writer.h"
#include "anim/frame_chunk.h"

namespace {

constexpr std::size_t kWidth = 720;
constexpr std::size_t kHeight = 576;
constexpr std::size_t kPicture = kWidth * kHeight;

using Picture = std::vector<std::uint8_t>;

// Sixteen flat bands: runs of tens of thousands of bytes.
Picture Runs() {
  Picture p(kPicture);
  for (std::size_t i = 0; i < kPicture; ++i) p[i] = static_cast<std::uint8_t>(i / (kPicture / 16) * 11);
  return p;
}

// Random bytes with no two equal neighbours: literals only.
Picture Noise() {
  std::mt19937 random(1);
  Picture p(kPicture);
  std::uint8_t previous = 0;
  for (auto& pixel : p) {
    std::uint8_t value;
    do value = static_cast<std::uint8_t>(random()); while (value == previous);
    pixel = previous = value;
  }
  return p;
}

// An ordered-dithered gradient with flat sky and ground: short runs and
// short literals, as rendered scenes give.
Picture Mix(std::size_t width = kWidth, std::size_t height = kHeight, unsigned shift = 0) {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  Picture p(width * height);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      std::uint8_t value;
      if (y < height / 4) {
        value = 140;  // flat sky
      } else if (y > height * 3 / 4) {
        value = static_cast<std::uint8_t>(70 + (x / 40) % 2);  // flat ground tiles
      } else {
        const int level = static_cast<int>((x + shift) * 64 * 16 / width);
        value = static_cast<std::uint8_t>(64 + level / 16 + ((level % 16) > kBayer[y % 4][x % 4] ? 1 : 0));
      }
      p[y * width + x] = value;
    }
  }
  return p;
}

const Picture& PictureOf(int which) {
  static const Picture pictures[3] = {Runs(), Noise(), Mix()};
  return pictures[which];
}

void BM_Memset(benchmark::State& state) {
  Picture out(kPicture);
  for (auto _ : state) {
    std::memset(out.data(), static_cast<int>(state.iterations() & 0xFF), out.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPicture));
}
BENCHMARK(BM_Memset);

void BM_Memcpy(benchmark::State& state) {
  const Picture& in = PictureOf(1);
  Picture out(kPicture);
  for (auto _ : state) {
    std::memcpy(out.data(), in.data(), out.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPicture));
}
BENCHMARK(BM_Memcpy);

void BM_Decode(benchmark::State& state) {
  const Picture& in = PictureOf(static_cast<int>(state.range(0)));
  kiv::FrameChunk chunk;
  chunk.Encode(in.data(), static_cast<std::int32_t>(in.size()));
  Picture out(kPicture);
  for (auto _ : state) {
    benchmark::DoNotOptimize(chunk.Decode(out.data(), out.size()));
    benchmark::ClobberMemory();
  }
  if (out != in) state.SkipWithError("decode differs");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPicture));
  state.counters["payload"] = chunk.compressedSize;
}
BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"runs0_noise1_mix2"});

void BM_Encode(benchmark::State& state) {
  const Picture& in = PictureOf(static_cast<int>(state.range(0)));
  kiv::FrameChunk chunk;
  for (auto _ : state) {
    benchmark::DoNotOptimize(chunk.Encode(in.data(), static_cast<std::int32_t>(in.size())));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPicture));
}
BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"runs0_noise1_mix2"});

// A 9999-frame 949 file of 240 x 160 dithered scenes, each frame shifted so
// that none repeats; written once per run.
const std::string& LoadFile() {
  static const std::string path = [] {
    const std::string file = "/tmp/kiv_anim_bench_" + std::to_string(::getpid()) + ".kiv";
    kiv::AnimationWriteOptions options;
    options.width = 240;
    options.height = 160;
    std::vector<Picture> frames;
    for (unsigned f = 0; f < kiv::kMaxFrames; ++f) frames.push_back(Mix(240, 160, f % 240));
    std::string error;
    if (!kiv::WriteAnimation(file.c_str(), options, frames, frames[0], &error)) {
      std::fprintf(stderr, "cannot write %s: %s\n", file.c_str(), error.c_str());
    }
    std::atexit([] { std::remove(("/tmp/kiv_anim_bench_" + std::to_string(::getpid()) + ".kiv").c_str()); });
    return file;
  }();
  return path;
}

std::int64_t FileBytes(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fclose(file);
  return size;
}

void BM_PlainRead(benchmark::State& state) {
  const std::string& path = LoadFile();
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
    }
    std::fclose(file);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
  state.counters["file_bytes"] = static_cast<double>(FileBytes(path));
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);

// The same file read whole into a new buffer of its size: like the loader, it
// ends with the whole file in fresh memory, so it pays the same first touch of
// every page. This is the baseline that the loader's cost is judged against.
void BM_PlainReadWhole(benchmark::State& state) {
  const std::string& path = LoadFile();
  const std::int64_t size = FileBytes(path);
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(size)]);
    const std::size_t got = std::fread(buffer.get(), 1, static_cast<std::size_t>(size), file);
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.get());
    if (got != static_cast<std::size_t>(size)) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_PlainReadWhole)->Unit(benchmark::kMillisecond);

void BM_LoadAnimation(benchmark::State& state) {
  const std::string& path = LoadFile();
  if (state.range(0) != 0) {
    // Keep freed memory in the process: later loads then reuse pages that are
    // already mapped, which shows the loader's own cost apart from the
    // kernel's first touch of fresh memory (a cost every real load pays once).
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }
  float rate = 0;
  std::uint32_t first = 0, last = 0;
  std::vector<kiv::FrameChunk*> frames(kiv::kMaxFrames, nullptr);
  std::vector<std::int32_t> flags(kiv::kMaxFrames, 0);
  kiv::FrameChunk* background = nullptr;
  std::unique_ptr<std::uint8_t[]> backgroundBuffer(new std::uint8_t[kiv::kBackgroundBufferSize]);
  std::unique_ptr<std::uint8_t[]> scratch(new std::uint8_t[kiv::kLegacyScratchSize]);
  const kiv::AnimationTables tables{&rate, &first, &last, frames.data(), flags.data(),
                                    &background, backgroundBuffer.get(), scratch.get()};
  for (auto _ : state) {
    if (!kiv::LoadAnimation(path.c_str(), tables)) state.SkipWithError("load failed");
    state.PauseTiming();
    kiv::ReleaseFrames(tables);
    state.ResumeTiming();
  }
  delete background;
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}
BENCHMARK(BM_LoadAnimation)->Arg(0)->Arg(1)->ArgNames({"warm"})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
