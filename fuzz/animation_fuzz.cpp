// Feeds arbitrary bytes to the header probe and the loader, then expands the
// chunks that loaded with their bounds; then loads the same bytes from
// memory, the chunks pointing into them, which must end the same way. Any
// out-of-bounds access, leak, undefined behaviour or disagreement is a finding.
//
// Real files hold up to 9999 frames, most of them repeats that share the
// chunk before them. Each distinct chunk is expanded once, and only the first
// kExpandLimit of them in full: beyond that a token walk (the same bounds
// checks, no writing) stands in, so that an input of a few thousand frames
// costs milliseconds and the fuzzer keeps its pace on real-sized files. The
// loader itself expands every frame of the 768-wide versions (909 and 919) to
// cut it to 720 columns (a full expansion and encoding each, several
// milliseconds under the fuzzer's instrumentation), so for those the header's
// last frame is lowered to keep at most kLegacyFrameLimit frames per input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "anim/animation_file.h"

namespace {

constexpr int kExpandLimit = 8;
constexpr std::uint32_t kLegacyFrameLimit = 2;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Lowers the last frame (offset 20) of a 909 or 919 header (version at 8,
// first frame at 16) so that the file names at most kLegacyFrameLimit frames.
__attribute__((no_sanitize("coverage"))) void CapLegacyFrames(std::vector<std::uint8_t>* bytes) {
  if (bytes->size() < 24) return;
  std::uint8_t* p = bytes->data();
  const std::uint32_t version = Le32(p + 8);
  if (version != kiv::kVersion909 && version != kiv::kVersion919) return;
  const std::uint32_t first = Le32(p + 16);
  const std::uint32_t last = Le32(p + 20);
  if (last < first || last - first < kLegacyFrameLimit) return;
  const std::uint32_t capped = first + kLegacyFrameLimit - 1;
  for (int k = 0; k < 4; ++k) p[20 + k] = static_cast<std::uint8_t>(capped >> (8 * k));
}

// Expands each distinct chunk of the loaded frames (the first kExpandLimit
// in full, the rest by a token walk). The walk over 9999 table entries is
// the harness's own and carries no coverage worth recording.
__attribute__((no_sanitize("coverage"))) void ExpandChunks(kiv::OwnedTables* tables, std::uint8_t* frameBuffer,
                                                           std::size_t picture, bool loaded) {
  const kiv::FrameChunk* previous = nullptr;
  int expanded = 0;
  for (std::uint32_t f = tables->firstFrame; f <= tables->lastFrame && f < kiv::kMaxFrames; ++f) {
    const kiv::FrameChunk* chunk = tables->frames[f];
    // A repeat shares the chunk of the frame before it.
    if (chunk == nullptr || chunk == previous) continue;
    previous = chunk;
    // A chunk may expand past its picture as long as it stays within the
    // frame buffer; only the picture's bytes are used.
    const kiv::DecodeResult result =
        expanded < kExpandLimit
            ? chunk->DecodeClipped(frameBuffer, picture, kiv::kFrameBufferSize)
            : chunk->CheckTokens(kiv::kFrameBufferSize);
    ++expanded;
    // A loaded animation holds only chunks that fit the frame buffer.
    if (loaded && result.status != kiv::DecodeStatus::kOk) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* tables = new kiv::OwnedTables();
  static auto* frameBuffer = new std::uint8_t[kiv::kFrameBufferSize];
  // A buffer kept from input to input: a fresh one of a few hundred
  // kilobytes would be mapped and unmapped each time. fmemopen needs at
  // least one byte.
  static std::vector<std::uint8_t>& copy = *new std::vector<std::uint8_t>();
  copy.assign(data, data + size);
  copy.push_back(0);
  CapLegacyFrames(&copy);
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
    ExpandChunks(tables, frameBuffer, picture, loaded);
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

  kiv::AnimationError memoryError;
  kiv::AnimationLoader loader(tables->View());
  loader.Attach(kiv::ByteSpan(copy.data(), size), true);
  if (loader.Run(&memoryError) != loaded) __builtin_trap();
  if (!loaded && !error.noMemory && (memoryError.offset != error.offset || memoryError.what != error.what)) {
    __builtin_trap();
  }
  kiv::ReleaseFrames(tables->View());
  delete tables->backgroundChunk;
  tables->backgroundChunk = nullptr;
  tables->firstFrame = tables->lastFrame = 0;
  return 0;
}
