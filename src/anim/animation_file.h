// The KIV animation file: header probe and loader for versions 909 to 949.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "anim/frame_chunk.h"

namespace kiv {

constexpr std::uint32_t kMaxFrames = 9999;
constexpr std::size_t kFrameBufferSize = 5764800;
constexpr std::size_t kBackgroundBufferSize = 1920000;
constexpr std::size_t kLegacyScratchSize = 15360000;
constexpr std::uint32_t kLastFrameLimit = kMaxFrames - 1;  // 9998
constexpr std::size_t kMaxPictureSize = kBackgroundBufferSize;  // width * height at most

constexpr std::int32_t kVersion909 = 909;
constexpr std::int32_t kVersion919 = 919;
constexpr std::int32_t kVersion929 = 929;
constexpr std::int32_t kVersion939 = 939;
constexpr std::int32_t kVersion949 = 949;

bool IsKnownVersion(std::int32_t version);
// Where the background chunk starts: 32, 7532, 6512, 6512 or 6520.
std::int64_t BackgroundOffsetOf(std::int32_t version);
// Versions 909 and 919 store frames 768 wide.
inline bool IsLegacyVersion(std::int32_t version) { return version <= kVersion919; }
inline bool HasRepeatFlags(std::int32_t version) { return version >= kVersion939; }

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

// Where and why a file was refused: the byte offset in the file, the part
// ("header", "background", "repeat flags", "frame 3") and what is wrong.
struct AnimationError {
  // The part of the file at fault; frame is its number for kFrame.
  enum class Part { kFile, kHeader, kBackground, kRepeatFlags, kFrame };
  std::int64_t offset = 0;
  std::string where;  // the part in words: "header", "frame 3"
  std::string what;
  Part part = Part::kFile;
  std::uint32_t frame = 0;
  // The file may be sound: an allocation failed (what then reads "not
  // enough memory for frame N of M").
  bool noMemory = false;
};

// "not enough memory for frame 264 of 400": the frame's place in the file,
// counted from 1 whatever the first frame's number, and the frame count.
std::string MemoryShortageText(std::uint32_t place, std::uint32_t count);

// False for anything but a regular file (a FIFO, socket, device or
// directory): such a file can block an open or a read for ever, and cannot be
// read twice anyway.
bool IsRegularFile(const char* path);

// Reads and checks the header of the file at path; fills header when given.
// Does not touch the size globals. Refused: a file too short for its
// version's header, a bad magic or version, a negative or non-finite frame
// rate, first > last or last > 9998, and for 949 a width or height below 1
// or a picture above kMaxPictureSize bytes.
bool ReadAnimationHeader(const char* path, AnimationHeader* header);
// The same from a stream of any position (it seeks to the start).
bool ReadAnimationHeaderStream(std::FILE* stream, AnimationHeader* header, AnimationError* error);
// The same from a whole file in memory.
bool ReadAnimationHeaderBytes(ByteSpan file, AnimationHeader* header, AnimationError* error);

// Where the first frame chunk of a file with this (checked) header starts:
// after the background chunk and, from 939 on, the repeat flags. -1 when
// the file ends inside the background chunk's header.
std::int64_t FramesOffsetOf(ByteSpan file, const AnimationHeader& header);

// Checks the header; on success sets the four size globals.
bool ProbeAnimationHeader(const char* path);
bool ProbeAnimationBytes(ByteSpan file);

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

// Tables of their own, on the heap, for whatever loads an animation besides
// the Player (whose fields are its tables): kivtool, tests, fuzz targets.
// The chunks go with the tables.
struct OwnedTables {
  OwnedTables() = default;
  ~OwnedTables();
  OwnedTables(const OwnedTables&) = delete;
  OwnedTables& operator=(const OwnedTables&) = delete;

  AnimationTables View() {
    return {&frameRate,    &firstFrame,      &lastFrame,       frames.data(),
            repeatFlags.data(), &backgroundChunk, backgroundBuffer.get(), legacyScratch.get()};
  }

  float frameRate = 12.5f;
  std::uint32_t firstFrame = 0;
  std::uint32_t lastFrame = 0;
  std::vector<FrameChunk*> frames = std::vector<FrameChunk*>(kMaxFrames, nullptr);
  std::vector<std::int32_t> repeatFlags = std::vector<std::int32_t>(kMaxFrames, 0);
  FrameChunk* backgroundChunk = nullptr;
  std::unique_ptr<std::uint8_t[]> backgroundBuffer{new std::uint8_t[kBackgroundBufferSize]()};
  std::unique_ptr<std::uint8_t[]> legacyScratch{new std::uint8_t[kLegacyScratchSize]};
};

// Loads the whole animation into the tables. Chunks read before a failure
// stay in the tables (the owner frees them as usual).
// Every chunk's tokens are checked as it is read against the buffer it is
// expanded into (the frame buffer, the conversion scratch for frames of 909
// and 919, the background buffer), so a loaded animation never holds a
// chunk that overruns its buffer or its payload. A chunk may expand past its
// picture (width * height, or 768 x 576 as stored by 909 and 919) within
// that buffer: only the picture's bytes are used.
bool LoadAnimation(const char* path, const AnimationTables& tables);
bool LoadAnimation(const char* path, const AnimationTables& tables, AnimationError* error);
// The same from a stream (the caller opens and closes it).
bool LoadAnimationStream(std::FILE* stream, const AnimationTables& tables, AnimationError* error);

// Loads an animation one piece at a time (the header, the background, the
// repeat flags, then one frame chunk per piece), so that its caller can do
// other work between pieces; the result is the same as LoadAnimation's.
class AnimationLoader {
 public:
  enum class Status { kMore, kDone, kFailed };

  explicit AnimationLoader(const AnimationTables& tables);
  ~AnimationLoader();
  AnimationLoader(const AnimationLoader&) = delete;
  AnimationLoader& operator=(const AnimationLoader&) = delete;

  // Opens the file (the loader closes it when done, failed or destroyed).
  // False, with the reason in error, when it is not a regular file or cannot
  // be opened.
  bool Open(const char* path, AnimationError* error);
  // Reads from a stream that the caller keeps open until the load ends.
  void Attach(std::FILE* stream);
  // Reads from a file in memory that the caller keeps until the load ends;
  // with `borrow` the chunks point into it instead of copying their payload,
  // and it must then outlive them.
  void Attach(ByteSpan file, bool borrow = false);
  // Reads one piece, then more until `slice` has passed; kMore while pieces
  // remain. A zero slice reads exactly one piece.
  Status Advance(std::chrono::steady_clock::duration slice, AnimationError* error);
  // Reads every piece that is left; true when the load is done.
  bool Run(AnimationError* error);
  // Empty, or one line on the first chunk that expands past its picture
  // (the file is sound; the excess is not shown).
  const std::string& Note() const { return note_; }

 private:
  enum class Stage { kHeader, kBackground, kRepeatFlags, kFrames, kFinish, kDone, kFailed };
  // One piece; false when the load failed (error filled).
  bool Step(AnimationError* error);
  bool StepHeader(AnimationError* error);
  bool StepRepeatFlags(AnimationError* error);
  bool StepFrame(AnimationError* error);
  void Close();
  ByteReader* Memory() { return memory_ ? &*memory_ : nullptr; }

  AnimationTables tables_;
  std::FILE* stream_ = nullptr;
  std::FILE* ownedStream_ = nullptr;
  std::optional<ByteReader> memory_;
  bool borrow_ = false;
  std::unique_ptr<char[]> streamBuffer_;
  Stage stage_ = Stage::kHeader;
  AnimationHeader header_{};
  std::int64_t fileSize_ = 0;
  std::int64_t position_ = 0;
  std::size_t picture_ = 0;
  std::uint32_t nextFrame_ = 0;
  std::string note_;
};

// Frees the owning chunks of frames first to last (repeated frames share an
// earlier frame's chunk and are skipped) and sets their entries to null.
void ReleaseFrames(const AnimationTables& tables);

}  // namespace kiv
