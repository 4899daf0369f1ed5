#include "anim/animation_file.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>
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
             std::to_string(left < kChunkHeaderSize ? 0 : left - kChunkHeaderSize) + " bytes left)";
    case ChunkReadStatus::kShortPayload: return "file ends inside the chunk payload";
    case ChunkReadStatus::kNoMemory: return "no memory for the chunk payload";
    default: return "chunk cannot be read";
  }
}

std::string TokenMessage(const FrameChunk& chunk, const DecodeResult& result, std::size_t bound,
                         const char* buffer) {
  const bool literal = chunk.payload[result.tokenOffset] >= 0x80;
  if (result.status == DecodeStatus::kOverrun) {
    return std::string(literal ? "literal" : "run") + " overruns the " + std::to_string(bound) +
           "-byte " + buffer;
  }
  return std::string(literal ? "literal" : "run") + " runs past the end of the " +
         std::to_string(chunk.compressedSize) + "-byte payload";
}

// Where a picture is expanded, and how large that buffer is: a chunk may
// expand past its picture but never past its buffer.
struct ChunkBound {
  std::size_t bytes;
  const char* name;
};
constexpr ChunkBound kFrameBound{kFrameBufferSize, "frame buffer"};
constexpr ChunkBound kLegacyFrameBound{kLegacyScratchSize, "conversion buffer"};
constexpr ChunkBound kBackgroundBound{kBackgroundBufferSize, "background buffer"};

std::string PastPictureNote(const std::string& where, std::size_t expanded, std::size_t picture) {
  return where + " expands to " + std::to_string(expanded) + " bytes, past its " +
         std::to_string(picture) + "-byte picture; the rest is not shown";
}

// Reads one chunk at `position` and checks its tokens against the buffer it
// is expanded into; *expanded is the size it expands to. Reports failures
// with the file offset of the faulty byte.
// Reads from memory when given, from the stream otherwise.
bool ReadCheckedChunk(std::FILE* stream, ByteReader* memory, bool borrow, FrameChunk* chunk, std::int64_t* position,
                      std::int64_t fileSize, const ChunkBound& bound, Part part, std::uint32_t frame,
                      std::size_t* expanded, AnimationError* error) {
  const std::int64_t start = *position;
  const std::int64_t left = fileSize - start;
  std::uint32_t length = 0;
  const ChunkReadStatus status =
      memory != nullptr ? chunk->ReadChunkChecked(*memory, &length, borrow)
                        : chunk->ReadChunkChecked(stream, static_cast<std::uint64_t>(left < 0 ? 0 : left), &length);
  if (status != ChunkReadStatus::kOk) {
    // Past the tag the fault lies in or after the length field.
    const std::int64_t offset = status == ChunkReadStatus::kShortTag || status == ChunkReadStatus::kBadTag
                                    ? start
                                    : start + 4;
    Fail(error, offset, part, frame, ChunkReadMessage(status, length, left));
    if (error != nullptr) error->noMemory = status == ChunkReadStatus::kNoMemory;
    return false;
  }
  *position = start + kChunkHeaderSize + chunk->compressedSize;
  const DecodeResult result = chunk->CheckTokens(bound.bytes);
  if (result.status != DecodeStatus::kOk) {
    return Fail(error, start + kChunkHeaderSize + static_cast<std::int64_t>(result.tokenOffset), part, frame,
                TokenMessage(*chunk, result, bound.bytes, bound.name));
  }
  *expanded = result.written;
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

namespace {

// Checks the header at the start of `head`, the first bytes of a file of
// `size` bytes.
bool ParseAnimationHeader(ByteSpan head, std::int64_t size, AnimationHeader* header, AnimationError* error) {
  const std::size_t got = head.size();
  const std::uint8_t* bytes = head.data();
  if (got < 4 || std::memcmp(bytes, kMagic, 4) != 0) {
    return Fail(error, 0, Part::kHeader, "magic is not \"KIVA\"");
  }
  if (got < 12) return Fail(error, static_cast<std::int64_t>(got), Part::kHeader, "file ends before the version");
  const auto version = static_cast<std::int32_t>(LoadLe32(bytes + 8));
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
  const std::uint32_t rateBits = LoadLe32(bytes + 12);
  std::memcpy(&h.frameRate, &rateBits, sizeof h.frameRate);
  h.firstFrame = LoadLe32(bytes + 16);
  h.lastFrame = LoadLe32(bytes + 20);
  h.loopStart = LoadLe32(bytes + 24);
  h.loopEnd = LoadLe32(bytes + 28);
  h.width = kFrameWidthDefault;
  h.height = kFrameHeightDefault;
  if (version == kVersion949) {
    h.width = static_cast<std::int32_t>(LoadLe32(bytes + 32));
    h.height = static_cast<std::int32_t>(LoadLe32(bytes + 36));
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

}  // namespace

bool ReadAnimationHeaderStream(std::FILE* stream, AnimationHeader* header, AnimationError* error) {
  if (stream == nullptr) return Fail(error, 0, Part::kHeader, "no stream");
  const std::int64_t size = StreamSize(stream);
  if (size < 0) return Fail(error, 0, Part::kHeader, "cannot find the file size");
  std::uint8_t bytes[kSizedHeaderSize] = {};
  const std::size_t got = ReadFully(bytes, sizeof bytes, stream);
  return ParseAnimationHeader(ByteSpan(bytes, got), size, header, error);
}

bool ReadAnimationHeaderBytes(ByteSpan file, AnimationHeader* header, AnimationError* error) {
  return ParseAnimationHeader(file.first(std::min<std::size_t>(file.size(), kSizedHeaderSize)),
                              static_cast<std::int64_t>(file.size()), header, error);
}

std::int64_t FramesOffsetOf(ByteSpan file, const AnimationHeader& header) {
  ByteReader reader(file);
  std::uint32_t backgroundLength = 0;
  if (!reader.Seek(static_cast<std::size_t>(header.backgroundOffset)) || !reader.Skip(4) ||
      !reader.ReadLe32(&backgroundLength)) {
    return -1;
  }
  const std::int64_t flags =
      HasRepeatFlags(header.version) ? 4 * static_cast<std::int64_t>(header.lastFrame - header.firstFrame + 1) : 0;
  return header.backgroundOffset + kChunkHeaderSize + backgroundLength + flags;
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

namespace {

void SetSizes(const AnimationHeader& header) {  FrameWidth = header.width;
  FrameHeight = header.height;
  ScreenWidth = header.width + kScreenMarginX;
  ScreenHeight = header.height + kScreenMarginY;
}

}  // namespace

bool ProbeAnimationHeader(const char* path) {
  AnimationHeader header{};
  if (!ReadAnimationHeader(path, &header)) return false;
  SetSizes(header);
  return true;
}

bool ProbeAnimationBytes(ByteSpan file) {
  AnimationHeader header{};
  if (!ReadAnimationHeaderBytes(file, &header, nullptr)) return false;
  SetSizes(header);
  return true;
}

AnimationLoader::AnimationLoader(const AnimationTables& tables) : tables_(tables) {}

AnimationLoader::~AnimationLoader() { Close(); }

void AnimationLoader::Close() {
  if (ownedStream_ != nullptr) std::fclose(ownedStream_);  // before its buffer goes
  ownedStream_ = nullptr;
  stream_ = nullptr;
  memory_.reset();
  streamBuffer_.reset();
}

bool AnimationLoader::Open(const char* path, AnimationError* error) {
  Close();
  note_.clear();
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
  note_.clear();
  stream_ = stream;
  stage_ = Stage::kHeader;
}

void AnimationLoader::Attach(ByteSpan file, bool borrow) {
  Close();
  note_.clear();
  memory_.emplace(file);
  borrow_ = borrow;
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
  switch (stage_) {
    case Stage::kHeader:
      return StepHeader(error);
    case Stage::kBackground: {
      delete *tables_.backgroundChunk;
      *tables_.backgroundChunk = nullptr;
      *tables_.backgroundChunk = new FrameChunk();
      std::size_t expanded = 0;
      if (!ReadCheckedChunk(stream_, Memory(), borrow_, *tables_.backgroundChunk, &position_, fileSize_,
                            kBackgroundBound, Part::kBackground, 0, &expanded, error)) {
        if (error != nullptr && error->noMemory) error->what = "not enough memory for the background";
        return false;
      }
      // Files of 909 and 919 store the background 768 wide, like their frames.
      if (expanded > picture_ && note_.empty()) note_ = PastPictureNote("background", expanded, picture_);
      stage_ = Stage::kRepeatFlags;
      return true;
    }
    case Stage::kRepeatFlags:
      return StepRepeatFlags(error);
    case Stage::kFrames:
      return StepFrame(error);
    case Stage::kFinish: {
      // The background is used as stored: its first width x height bytes.
      const std::size_t shown = picture_ < kBackgroundBufferSize ? picture_ : kBackgroundBufferSize;
      if ((*tables_.backgroundChunk)->DecodeClipped(tables_.backgroundBuffer, shown, kBackgroundBufferSize)
              .status != DecodeStatus::kOk) {
        return Fail(error, header_.backgroundOffset, Part::kBackground, "cannot be expanded");
      }
      Close();
      stage_ = Stage::kDone;
      return true;
    }
    default:
      return false;
  }
}

bool AnimationLoader::StepHeader(AnimationError* error) {
  AnimationHeader& h = header_;
  if (memory_) {
    if (!ReadAnimationHeaderBytes(memory_->all(), &h, error)) return false;
    fileSize_ = static_cast<std::int64_t>(memory_->size());
    memory_->Seek(static_cast<std::size_t>(h.backgroundOffset));  // within: the header checked the size
  } else {
    if (!ReadAnimationHeaderStream(stream_, &h, error)) return false;
    fileSize_ = StreamSize(stream_);
    if (fileSize_ < 0 || std::fseek(stream_, static_cast<long>(h.backgroundOffset), SEEK_SET) != 0) {
      return Fail(error, h.backgroundOffset, Part::kHeader, "cannot seek to the background");
    }
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

bool AnimationLoader::StepRepeatFlags(AnimationError* error) {
  const AnimationHeader& h = header_;
  const std::uint32_t count = h.lastFrame - h.firstFrame + 1;
  if (HasRepeatFlags(h.version)) {
    const std::int64_t flagBytes = 4 * static_cast<std::int64_t>(count);
    if (fileSize_ - position_ < flagBytes) {
      return Fail(error, fileSize_, Part::kRepeatFlags,
                  "file ends inside the " + std::to_string(count) + " repeat flags");
    }
    const auto size = static_cast<std::size_t>(flagBytes);
    std::vector<std::uint8_t> read;
    ByteSpan flags;
    if (memory_) {
      memory_->Take(size, &flags);  // within: checked against the file size above
    } else {
      read.resize(size);
      if (ReadFully(read.data(), size, stream_) != size) {
        return Fail(error, position_, Part::kRepeatFlags, "file ends inside the repeat flags");
      }
      flags = read;
    }
    // The first frame has no predecessor whose chunk it could share.
    if (LoadLe32(flags.data()) != 0) {
      return Fail(error, position_, Part::kRepeatFlags, "the first frame is marked as a repeat");
    }
    for (std::uint32_t k = 0; k < count; ++k) {
      tables_.repeatFlags[h.firstFrame + k] = static_cast<std::int32_t>(LoadLe32(flags.data() + 4 * k));
    }
    position_ += flagBytes;
  } else {
    for (std::uint32_t f = h.firstFrame; f <= h.lastFrame; ++f) tables_.repeatFlags[f] = 0;
  }
  stage_ = Stage::kFrames;
  return true;
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
    std::size_t expanded = 0;
    if (!ReadCheckedChunk(stream_, Memory(), borrow_, chunk, &position_, fileSize_,
                          legacy ? kLegacyFrameBound : kFrameBound, Part::kFrame, f, &expanded, error)) {
      if (error != nullptr && error->noMemory) {
        error->what = MemoryShortageText(f - h.firstFrame + 1, h.lastFrame - h.firstFrame + 1);
      }
      return false;
    }
    const std::size_t stored = legacy ? kLegacyPictureSize : picture_;
    if (expanded > stored && note_.empty()) note_ = PastPictureNote("frame " + std::to_string(f), expanded, stored);
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

bool AnimationLoader::Run(AnimationError* error) {
  Status status;
  do {
    status = Advance(std::chrono::hours(1), error);
  } while (status == Status::kMore);
  return status == Status::kDone;
}

bool LoadAnimationStream(std::FILE* stream, const AnimationTables& tables, AnimationError* error) {
  AnimationLoader loader(tables);
  loader.Attach(stream);
  return loader.Run(error);
}

bool LoadAnimation(const char* path, const AnimationTables& tables, AnimationError* error) {
  AnimationLoader loader(tables);
  return loader.Open(path, error) && loader.Run(error);
}

bool LoadAnimation(const char* path, const AnimationTables& tables) {
  return LoadAnimation(path, tables, nullptr);
}

OwnedTables::~OwnedTables() {
  ReleaseFrames(View());
  delete backgroundChunk;
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
