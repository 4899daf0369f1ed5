// The KIV animation file: header probe and loader for versions 909 to 949.
#pragma once

#include <cstddef>
#include <cstdint>

#include "anim/frame_chunk.h"

namespace kiv {

constexpr std::uint32_t kMaxFrames = 9999;
constexpr std::size_t kFrameBufferSize = 5764800;
constexpr std::size_t kBackgroundBufferSize = 1920000;
constexpr std::size_t kLegacyScratchSize = 15360000;

// The frame and screen size: 720 x 576 and 800 x 600 until a probe succeeds.
extern std::int32_t FrameWidth;
extern std::int32_t FrameHeight;
extern std::int32_t ScreenWidth;
extern std::int32_t ScreenHeight;

// The header fields of a file, as the probe reads and checks them.
struct AnimationHeader {
  std::int32_t version;
  float frameRate;
  std::uint32_t firstFrame;
  std::uint32_t lastFrame;
  std::uint32_t loopStart;
  std::uint32_t loopEnd;
  std::int32_t width;
  std::int32_t height;
  std::int64_t backgroundOffset;  // where the background chunk starts
};

// Reads and checks the header of the file at path; fills header when given.
// Does not touch the size globals.
bool ReadAnimationHeader(const char* path, AnimationHeader* header);

// Checks the header; on success sets the four size globals.
bool ProbeAnimationHeader(const char* path);

// The tables that a load fills; they are the Player's fields.
struct AnimationTables {
  float* frameRate;
  std::uint32_t* firstFrame;
  std::uint32_t* lastFrame;
  FrameChunk** frames;             // kMaxFrames entries
  std::int32_t* repeatFlags;       // kMaxFrames entries
  FrameChunk** backgroundChunk;
  std::uint8_t* backgroundBuffer;  // kBackgroundBufferSize bytes
  std::uint8_t* legacyScratch;     // kLegacyScratchSize bytes
};

// Loads the whole animation into the tables. Chunks read before a failure
// stay in the tables (the owner frees them as usual).
bool LoadAnimation(const char* path, const AnimationTables& tables);

// Frees the owning chunks of frames first to last (repeated frames share an
// earlier frame's chunk and are skipped) and sets their entries to null.
void ReleaseFrames(const AnimationTables& tables);

}  // namespace kiv
