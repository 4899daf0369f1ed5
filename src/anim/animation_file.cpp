#include "anim/animation_file.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>

namespace kiv {

std::int32_t FrameWidth = kFrameWidthDefault;
std::int32_t FrameHeight = kFrameHeightDefault;
std::int32_t ScreenWidth = 800;
std::int32_t ScreenHeight = 600;

namespace {

constexpr char kMagic[4] = {'K', 'I', 'V', 'A'};
constexpr std::int32_t kScreenMarginX = 80;
constexpr std::int32_t kScreenMarginY = 24;
constexpr std::int64_t kCommonHeaderSize = 32;
constexpr std::int64_t kSizedHeaderSize = 40;  // 949 adds width and height
constexpr std::int64_t kReserved919 = 7500;
constexpr std::int64_t kReservedLater = 6480;
constexpr std::size_t kStreamBufferSize = 256 * 1024;

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

using Part = AnimationError::Part;

std::string PartName(Part part, std::uint32_t frame) {
  switch (part) {
    case Part::kFile: return "file";
    case Part::kHeader: return "header";
    case Part::kBackground: return "background";
    case Part::kRepeatFlags: return "repeat flags";
    case Part::kFrame: break;
  }
  return "frame " + std::to_string(frame);
}

bool Fail(AnimationError* error, std::int64_t offset, Part part, std::uint32_t frame, const std::string& what) {
  if (error != nullptr) {
    error->offset = offset;
    error->part = part;
    error->frame = part == Part::kFrame ? frame : 0;
    error->where = PartName(part, frame);
    error->what = what;
    error->noMemory = false;
  }
  return false;
}

bool Fail(AnimationError* error, std::int64_t offset, Part part, const std::string& what) {
  return Fail(error, offset, part, 0, what);
}

std::int64_t StreamSize(std::FILE* stream) {
  if (std::fseek(stream, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(stream);
  if (size < 0 || std::fseek(stream, 0, SEEK_SET) != 0) return -1;
  return size;
}

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;


std::string ChunkReadMessage(ChunkReadStatus status, std::uint32_t length, std::int64_t left) {
  switch (status) {
    case ChunkReadStatus::kShortTag: return "file ends inside the chunk tag";
    case ChunkReadStatus::kBadTag: return "chunk tag is not \"FRME\"";
    case ChunkReadStatus::kShortLength: return "file ends inside the chunk length";
    case ChunkReadStatus::kTooLong:
      return "chunk length " + std::to_string(length) + " runs past the end of the file (" +
             std::to_string(left < 8 ? 0 : left - 8) + " bytes left)";
    case ChunkReadStatus::kShortPayload: return "file ends inside the chunk payload";
    case ChunkReadStatus::kNoMemory: return "no memory for the chunk payload";
    default: return "chunk cannot be read";
  }
}

std::string TokenMessage(const FrameChunk& chunk, const DecodeResult& result, std::size_t picture) {
  const bool literal = chunk.payload[result.tokenOffset] >= 0x80;
  if (result.status == DecodeStatus::kOverrun) {
    return std::string(literal ? "literal" : "run") + " overruns the " + std::to_string(picture) +
           "-byte frame";
  }
  return std::string(literal ? "literal" : "run") + " runs past the end of the " +
         std::to_string(chunk.compressedSize) + "-byte payload";
}

// Reads one chunk at `position` and checks its tokens against `picture`
// bytes. Reports failures with the file offset of the faulty byte.
bool ReadCheckedChunk(std::FILE* stream, FrameChunk* chunk, std::int64_t* position,
                      std::int64_t fileSize, std::size_t picture, Part part, std::uint32_t frame,
                      AnimationError* error) {
  const std::int64_t start = *position;
  const std::int64_t left = fileSize - start;
  std::uint8_t peek[8] = {};
  const ChunkReadStatus status =
      chunk->ReadChunkChecked(stream, static_cast<std::uint64_t>(left < 0 ? 0 : left));
  if (status != ChunkReadStatus::kOk) {
    std::uint32_t length = 0;
    std::int64_t offset = start;
    if (status == ChunkReadStatus::kShortLength) offset = start + 4;
    if (status == ChunkReadStatus::kTooLong || status == ChunkReadStatus::kShortPayload ||
        status == ChunkReadStatus::kNoMemory) {
      // The length field sits at start + 4; read it back for the message.
      offset = start + 4;
      const long here = std::ftell(stream);
      if (std::fseek(stream, static_cast<long>(start), SEEK_SET) == 0 &&
          ReadFully(peek, 8, stream) == 8) {
        length = Le32(peek + 4);
      }
      if (here >= 0) std::fseek(stream, here, SEEK_SET);
    }
    Fail(error, offset, part, frame, ChunkReadMessage(status, length, left));
    if (error != nullptr) error->noMemory = status == ChunkReadStatus::kNoMemory;
    return false;
  }
  *position = start + 8 + chunk->compressedSize;
  const DecodeResult result = chunk->CheckTokens(picture);
  if (result.status != DecodeStatus::kOk) {
    return Fail(error, start + 8 + static_cast<std::int64_t>(result.tokenOffset), part, frame,
                TokenMessage(*chunk, result, picture));
  }
  return true;
}

}  // namespace

bool IsKnownVersion(std::int32_t version) {
  return version == kVersion909 || version == kVersion919 || version == kVersion929 ||
         version == kVersion939 || version == kVersion949;
}

std::int64_t BackgroundOffsetOf(std::int32_t version) {
  switch (version) {
    case kVersion909: return kCommonHeaderSize;
    case kVersion919: return kCommonHeaderSize + kReserved919;
    case kVersion929:
    case kVersion939: return kCommonHeaderSize + kReservedLater;
    case kVersion949: return kSizedHeaderSize + kReservedLater;
    default: return -1;
  }
}

bool ReadAnimationHeaderStream(std::FILE* stream, AnimationHeader* header, AnimationError* error) {
  if (stream == nullptr) return Fail(error, 0, Part::kHeader, "no stream");
  const std::int64_t size = StreamSize(stream);
  if (size < 0) return Fail(error, 0, Part::kHeader, "cannot find the file size");
  std::uint8_t bytes[kSizedHeaderSize] = {};
  const std::size_t got = ReadFully(bytes, sizeof bytes, stream);
  if (got < 4 || std::memcmp(bytes, kMagic, 4) != 0) {
    return Fail(error, 0, Part::kHeader, "magic is not \"KIVA\"");
  }
  if (got < 12) return Fail(error, static_cast<std::int64_t>(got), Part::kHeader, "file ends before the version");
  const auto version = static_cast<std::int32_t>(Le32(bytes + 8));
  if (!IsKnownVersion(version)) {
    return Fail(error, 8, Part::kHeader, "unknown version " + std::to_string(version));
  }
  const std::int64_t needed = BackgroundOffsetOf(version);
  if (size < needed) {
    return Fail(error, size, Part::kHeader,
                "file ends at byte " + std::to_string(size) + ", inside the " +
                    std::to_string(needed) + "-byte header of version " + std::to_string(version));
  }

  AnimationHeader h{};
  h.version = version;
  const std::uint32_t rateBits = Le32(bytes + 12);
  std::memcpy(&h.frameRate, &rateBits, sizeof h.frameRate);
  h.firstFrame = Le32(bytes + 16);
  h.lastFrame = Le32(bytes + 20);
  h.loopStart = Le32(bytes + 24);
  h.loopEnd = Le32(bytes + 28);
  h.width = kFrameWidthDefault;
  h.height = kFrameHeightDefault;
  if (version == kVersion949) {
    h.width = static_cast<std::int32_t>(Le32(bytes + 32));
    h.height = static_cast<std::int32_t>(Le32(bytes + 36));
  }
  h.backgroundOffset = needed;

  if (std::isnan(h.frameRate)) return Fail(error, 12, Part::kHeader, "frame rate is not a number");
  if (std::isinf(h.frameRate)) return Fail(error, 12, Part::kHeader, "frame rate is infinite");
  if (h.frameRate < 0.0f) return Fail(error, 12, Part::kHeader, "frame rate is negative");
  if (h.lastFrame > kLastFrameLimit) {
    return Fail(error, 20, Part::kHeader,
                "last frame " + std::to_string(h.lastFrame) + " is above " +
                    std::to_string(kLastFrameLimit));
  }
  if (h.firstFrame > h.lastFrame) {
    return Fail(error, 16, Part::kHeader,
                "first frame " + std::to_string(h.firstFrame) + " is above last frame " +
                    std::to_string(h.lastFrame));
  }
  if (h.width <= 0) return Fail(error, 32, Part::kHeader, "frame width " + std::to_string(h.width) + " is not positive");
  if (h.height <= 0) return Fail(error, 36, Part::kHeader, "frame height " + std::to_string(h.height) + " is not positive");
  const std::uint64_t picture = static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.height);
  if (picture > kMaxPictureSize) {
    return Fail(error, 32, Part::kHeader,
                "frame size " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                    " exceeds " + std::to_string(kMaxPictureSize) + " bytes");
  }
  if (header != nullptr) *header = h;
  return true;
}

std::string MemoryShortageText(std::uint32_t place, std::uint32_t count) {
  return "not enough memory for frame " + std::to_string(place) + " of " + std::to_string(count);
}

bool IsRegularFile(const char* path) {
  std::error_code error;
  return path != nullptr && std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

bool ReadAnimationHeader(const char* path, AnimationHeader* header) {
  if (path == nullptr || !IsRegularFile(path)) return false;
  FileHandle file(std::fopen(path, "rb"));
  if (!file) return false;
  return ReadAnimationHeaderStream(file.get(), header, nullptr);
}

bool ProbeAnimationHeader(const char* path) {
  AnimationHeader header{};
  if (!ReadAnimationHeader(path, &header)) return false;
  FrameWidth = header.width;
  FrameHeight = header.height;
  ScreenWidth = header.width + kScreenMarginX;
  ScreenHeight = header.height + kScreenMarginY;
  return true;
}

AnimationLoader::AnimationLoader(const AnimationTables& tables) : tables_(tables) {}

AnimationLoader::~AnimationLoader() { Close(); }

void AnimationLoader::Close() {
  if (ownedStream_ != nullptr) std::fclose(ownedStream_);  // before its buffer goes
  ownedStream_ = nullptr;
  stream_ = nullptr;
  streamBuffer_.reset();
}

bool AnimationLoader::Open(const char* path, AnimationError* error) {
  Close();
  stage_ = Stage::kFailed;
  if (path == nullptr) return Fail(error, 0, Part::kFile, "no path");
  if (!IsRegularFile(path)) return Fail(error, 0, Part::kFile, "is not a regular file");
  ownedStream_ = std::fopen(path, "rb");
  if (ownedStream_ == nullptr) return Fail(error, 0, Part::kFile, "cannot be opened");
  // A larger buffer keeps the many small chunk reads from costing a system
  // call each; without the memory for it the default buffer does.
  streamBuffer_.reset(new (std::nothrow) char[kStreamBufferSize]);
  if (streamBuffer_) std::setvbuf(ownedStream_, streamBuffer_.get(), _IOFBF, kStreamBufferSize);
  stream_ = ownedStream_;
  stage_ = Stage::kHeader;
  return true;
}

void AnimationLoader::Attach(std::FILE* stream) {
  Close();
  stream_ = stream;
  stage_ = Stage::kHeader;
}

AnimationLoader::Status AnimationLoader::Advance(std::chrono::steady_clock::duration slice,
                                                 AnimationError* error) {
  const auto start = std::chrono::steady_clock::now();
  do {
    if (stage_ == Stage::kDone) return Status::kDone;
    if (stage_ == Stage::kFailed) return Status::kFailed;
    bool ok = false;
    try {
      ok = Step(error);
    } catch (const std::bad_alloc&) {
      // Only the small allocations (a chunk object, the flags) get here.
      const bool frames = stage_ == Stage::kFrames;
      ok = Fail(error, position_, frames ? Part::kFrame : Part::kFile, nextFrame_,
                frames ? MemoryShortageText(nextFrame_ - header_.firstFrame + 1,
                                             header_.lastFrame - header_.firstFrame + 1)
                       : std::string("not enough memory"));
      if (error != nullptr) error->noMemory = true;
    }
    if (!ok) {
      stage_ = Stage::kFailed;
      Close();
      return Status::kFailed;
    }
  } while (std::chrono::steady_clock::now() - start < slice);
  if (stage_ == Stage::kDone) return Status::kDone;
  return stage_ == Stage::kFailed ? Status::kFailed : Status::kMore;
}

bool AnimationLoader::Step(AnimationError* error) {
  AnimationHeader& h = header_;
  switch (stage_) {
    case Stage::kHeader: {
      if (!ReadAnimationHeaderStream(stream_, &h, error)) return false;
      fileSize_ = StreamSize(stream_);
      if (fileSize_ < 0 || std::fseek(stream_, static_cast<long>(h.backgroundOffset), SEEK_SET) != 0) {
        return Fail(error, h.backgroundOffset, Part::kHeader, "cannot seek to the background");
      }
      // The tables are written only once the header has proved sound, so
      // that their owner never walks a frame range beyond its 9999 entries.
      *tables_.frameRate = h.frameRate;
      *tables_.firstFrame = h.firstFrame;
      *tables_.lastFrame = h.lastFrame;
      picture_ = static_cast<std::size_t>(h.width) * static_cast<std::size_t>(h.height);
      position_ = h.backgroundOffset;
      nextFrame_ = h.firstFrame;
      stage_ = Stage::kBackground;
      return true;
    }
    case Stage::kBackground: {
      delete *tables_.backgroundChunk;
      *tables_.backgroundChunk = nullptr;
      *tables_.backgroundChunk = new FrameChunk();
      if (!ReadCheckedChunk(stream_, *tables_.backgroundChunk, &position_, fileSize_, picture_,
                            Part::kBackground, 0, error)) {
        if (error != nullptr && error->noMemory) error->what = "not enough memory for the background";
        return false;
      }
      stage_ = Stage::kRepeatFlags;
      return true;
    }
    case Stage::kRepeatFlags: {
      const std::uint32_t count = h.lastFrame - h.firstFrame + 1;
      if (HasRepeatFlags(h.version)) {
        const std::int64_t flagBytes = 4 * static_cast<std::int64_t>(count);
        if (fileSize_ - position_ < flagBytes) {
          return Fail(error, fileSize_, Part::kRepeatFlags,
                      "file ends inside the " + std::to_string(count) + " repeat flags");
        }
        std::unique_ptr<std::uint8_t[]> flags(new std::uint8_t[static_cast<std::size_t>(flagBytes)]);
        if (ReadFully(flags.get(), static_cast<std::size_t>(flagBytes), stream_) !=
            static_cast<std::size_t>(flagBytes)) {
          return Fail(error, position_, Part::kRepeatFlags, "file ends inside the repeat flags");
        }
        // The first frame has no predecessor whose chunk it could share.
        if (Le32(flags.get()) != 0) {
          return Fail(error, position_, Part::kRepeatFlags, "the first frame is marked as a repeat");
        }
        for (std::uint32_t k = 0; k < count; ++k) {
          tables_.repeatFlags[h.firstFrame + k] = static_cast<std::int32_t>(Le32(flags.get() + 4 * k));
        }
        position_ += flagBytes;
      } else {
        for (std::uint32_t f = h.firstFrame; f <= h.lastFrame; ++f) tables_.repeatFlags[f] = 0;
      }
      stage_ = Stage::kFrames;
      return true;
    }
    case Stage::kFrames:
      return StepFrame(error);
    case Stage::kFinish: {
      const std::size_t capacity = picture_ < kBackgroundBufferSize ? picture_ : kBackgroundBufferSize;
      if (!(*tables_.backgroundChunk)->Decode(tables_.backgroundBuffer, capacity)) {
        return Fail(error, h.backgroundOffset, Part::kBackground, "cannot be expanded");
      }
      Close();
      stage_ = Stage::kDone;
      return true;
    }
    default:
      return false;
  }
}

// Reads the chunk of frame nextFrame_, or shares the one before it.
bool AnimationLoader::StepFrame(AnimationError* error) {
  const AnimationHeader& h = header_;
  const std::uint32_t f = nextFrame_;
  if (tables_.repeatFlags[f] != 0) {
    tables_.frames[f] = tables_.frames[f - 1];
  } else {
    const bool legacy = IsLegacyVersion(h.version);
    auto* chunk = new FrameChunk();
    tables_.frames[f] = chunk;
    if (!ReadCheckedChunk(stream_, chunk, &position_, fileSize_, legacy ? kLegacyPictureSize : picture_,
                          Part::kFrame, f, error)) {
      if (error != nullptr && error->noMemory) {
        error->what = MemoryShortageText(f - h.firstFrame + 1, h.lastFrame - h.firstFrame + 1);
      }
      return false;
    }
    if (legacy && !chunk->ConvertLegacyFrame(tables_.legacyScratch, kLegacyScratchSize)) {
      return Fail(error, position_, Part::kFrame, f, "cannot convert the 768-wide picture");
    }
  }
  if (f == h.lastFrame) {
    stage_ = Stage::kFinish;
  } else {
    nextFrame_ = f + 1;
  }
  return true;
}

bool LoadAnimationStream(std::FILE* stream, const AnimationTables& tables, AnimationError* error) {
  AnimationLoader loader(tables);
  loader.Attach(stream);
  AnimationLoader::Status status;
  do {
    status = loader.Advance(std::chrono::hours(1), error);
  } while (status == AnimationLoader::Status::kMore);
  return status == AnimationLoader::Status::kDone;
}

bool LoadAnimation(const char* path, const AnimationTables& tables, AnimationError* error) {
  AnimationLoader loader(tables);
  if (!loader.Open(path, error)) return false;
  AnimationLoader::Status status;
  do {
    status = loader.Advance(std::chrono::hours(1), error);
  } while (status == AnimationLoader::Status::kMore);
  return status == AnimationLoader::Status::kDone;
}

bool LoadAnimation(const char* path, const AnimationTables& tables) {
  return LoadAnimation(path, tables, nullptr);
}

void ReleaseFrames(const AnimationTables& tables) {
  const std::uint32_t first = *tables.firstFrame;
  const std::uint32_t last = *tables.lastFrame;
  if (first > last || last > kLastFrameLimit) return;
  for (std::uint32_t f = first; f <= last; ++f) {
    if (tables.repeatFlags[f] == 0 && tables.frames[f] != nullptr) delete tables.frames[f];
  }
  for (std::uint32_t f = first; f <= last; ++f) tables.frames[f] = nullptr;
}

}  // namespace kiv
