// Writes animation files of any version from plain pictures. Used by kivtool
// and by the tests, which build their fixtures with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct AnimationWriteOptions {
  std::int32_t version = 949;
  float frameRate = 25.0f;
  std::uint32_t firstFrame = 0;
  std::uint32_t loopStart = 0;
  std::uint32_t loopEnd = 0;
  std::int32_t width = 720;   // other versions than 949 need 720 x 576
  std::int32_t height = 576;
  bool markRepeats = false;   // 939 and 949: a frame equal to the one before gets no chunk
};

// frames: width x height pictures from firstFrame on (the last frame number
// is firstFrame + frames.size() - 1). background: a width x height picture,
// or empty for an all-zero one. Versions 909 and 919 store each frame 768
// wide with 24 columns of 0 on either side. False with a reason in error.
bool WriteAnimation(const char* path, const AnimationWriteOptions& options,
                    const std::vector<std::vector<std::uint8_t>>& frames,
                    const std::vector<std::uint8_t>& background, std::string* error);
// The same into memory.
bool WriteAnimationToMemory(const AnimationWriteOptions& options,
                            const std::vector<std::vector<std::uint8_t>>& frames,
                            const std::vector<std::uint8_t>& background,
                            std::vector<std::uint8_t>* out, std::string* error);

// Lays out a file from ready payloads, as they stand and unchecked, so that
// tests can store token streams the encoder never writes: the header from
// options with lastFrame, the reserved block, the background chunk, the
// repeat flags (939 and 949 only) and one chunk per entry of chunkPayloads.
std::vector<std::uint8_t> AssembleAnimation(const AnimationWriteOptions& options,
                                            std::uint32_t lastFrame,
                                            const std::vector<std::uint8_t>& backgroundPayload,
                                            const std::vector<std::int32_t>& repeatFlags,
                                            const std::vector<std::vector<std::uint8_t>>& chunkPayloads);

// The bytes of one "FRME" chunk holding payload.
void AppendChunk(std::vector<std::uint8_t>* out, const std::vector<std::uint8_t>& payload);

}  // namespace kiv
