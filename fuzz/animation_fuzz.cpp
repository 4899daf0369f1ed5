// Feeds arbitrary bytes to the header probe and the loader, then expands
// every chunk that loaded with its bounds. Any out-of-bounds access, leak or
// undefined behaviour is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "anim/animation_file.h"

namespace {

struct Tables {
  float frameRate = 0;
  std::uint32_t firstFrame = 0;
  std::uint32_t lastFrame = 0;
  std::vector<kiv::FrameChunk*> frames = std::vector<kiv::FrameChunk*>(kiv::kMaxFrames, nullptr);
  std::vector<std::int32_t> repeatFlags = std::vector<std::int32_t>(kiv::kMaxFrames, 0);
  kiv::FrameChunk* backgroundChunk = nullptr;
  std::unique_ptr<std::uint8_t[]> backgroundBuffer{new std::uint8_t[kiv::kBackgroundBufferSize]};
  std::unique_ptr<std::uint8_t[]> legacyScratch{new std::uint8_t[kiv::kLegacyScratchSize]};
  std::unique_ptr<std::uint8_t[]> frameBuffer{new std::uint8_t[kiv::kFrameBufferSize]};

  kiv::AnimationTables View() {
    return {&frameRate,    &firstFrame,         &lastFrame,       frames.data(),
            repeatFlags.data(), &backgroundChunk, backgroundBuffer.get(), legacyScratch.get()};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Tables* tables = new Tables();
  std::vector<std::uint8_t> copy(data, data + size);
  copy.push_back(0);  // fmemopen needs a buffer of at least one byte
  std::FILE* stream = fmemopen(copy.data(), size == 0 ? 1 : size, "rb");
  if (stream == nullptr) return 0;

  kiv::AnimationHeader header{};
  kiv::AnimationError error;
  const bool headerOk = kiv::ReadAnimationHeaderStream(stream, &header, &error);
  const bool loaded = kiv::LoadAnimationStream(stream, tables->View(), &error);
  std::fclose(stream);
  if (loaded && !headerOk) __builtin_trap();  // the loader must refuse what the probe refuses

  if (headerOk) {
    const std::size_t picture = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
    for (std::uint32_t f = tables->firstFrame; f <= tables->lastFrame && f < kiv::kMaxFrames; ++f) {
      kiv::FrameChunk* chunk = tables->frames[f];
      if (chunk == nullptr) continue;
      const kiv::DecodeResult result = chunk->DecodeChecked(tables->frameBuffer.get(), picture);
      // A loaded animation holds only chunks that fit their picture.
      if (loaded && result.status != kiv::DecodeStatus::kOk) __builtin_trap();
    }
  }
  kiv::ReleaseFrames(tables->View());
  delete tables->backgroundChunk;
  tables->backgroundChunk = nullptr;
  tables->firstFrame = tables->lastFrame = 0;

  // The raw bytes as one payload, against a small destination.
  kiv::FrameChunk raw;
  raw.payload = new std::uint8_t[size];
  std::copy(data, data + size, raw.payload);
  raw.compressedSize = static_cast<std::int32_t>(size);
  std::uint8_t small[512];
  raw.DecodeChecked(small, sizeof small);
  return 0;
}
