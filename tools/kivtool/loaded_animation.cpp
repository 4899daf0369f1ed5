#include "loaded_animation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "playback/composition.h"

namespace kivtool {
namespace {

constexpr std::size_t kChunkHeaderSize = 8;  // "FRME" and the length
const char kFramePrefix[] = "frame ";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

const std::string kNoDamage;

}  // namespace

LoadedAnimation::LoadedAnimation()
    : frames_(kiv::kMaxFrames, nullptr),
      repeatFlags_(kiv::kMaxFrames, 0),
      backgroundBuffer_(new std::uint8_t[kiv::kBackgroundBufferSize]()),
      legacyScratch_(new std::uint8_t[kiv::kLegacyScratchSize]) {}

LoadedAnimation::~LoadedAnimation() {
  kiv::ReleaseFrames(Tables());
  delete backgroundChunk_;
}

kiv::AnimationTables LoadedAnimation::Tables() {
  return {&frameRate_,         &firstFrame_,       &lastFrame_,
          frames_.data(),      repeatFlags_.data(), &backgroundChunk_,
          backgroundBuffer_.get(), legacyScratch_.get()};
}

std::size_t LoadedAnimation::pictureSize() const {
  return static_cast<std::size_t>(header_.width) * static_cast<std::size_t>(header_.height);
}

const std::string& LoadedAnimation::damageOf(std::uint32_t number) const {
  return damage_.empty() ? kNoDamage : damage_[number];
}

std::uint32_t LoadedAnimation::readableFrames() const {
  std::uint32_t readable = 0;
  for (std::uint32_t f = first(); f <= last(); ++f) readable += frames_[f] != nullptr ? 1 : 0;
  return readable;
}

bool LoadedAnimation::Open(const char* path) {
  std::unique_ptr<std::FILE, FileCloser> probe(std::fopen(path, "rb"));
  if (!probe) {
    error_ = {0, "file", std::strerror(errno)};
    return false;
  }
  // A path that opens but cannot be read (a directory) is an I/O error too.
  errno = 0;
  if (std::fgetc(probe.get()) == EOF && std::ferror(probe.get())) {
    error_ = {0, "file", std::strerror(errno != 0 ? errno : EIO)};
    return false;
  }
  opened_ = true;
  if (std::fseek(probe.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(probe.get());
    fileSize_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  }
  headerRead_ = kiv::ReadAnimationHeaderStream(probe.get(), &header_, &error_);
  return headerRead_;
}

bool LoadedAnimation::Load(const char* path) {
  if (!Open(path)) return false;
  return kiv::LoadAnimation(path, Tables(), &error_);
}

bool LoadedAnimation::Salvage(const char* path) {
  if (Load(path)) return true;
  // Damage in the header, the background or the repeat flags leaves no frame
  // whose place in the file is known.
  if (!headerRead_ || error_.where.rfind(kFramePrefix, 0) != 0) return false;
  ContinueAfterDamage(path);
  return true;
}

// The strict load stopped at the first damaged frame. Walk the frames again,
// keeping every chunk that reads and checks: after a chunk whose tokens are
// bad the next chunk still lies where its length says, but after a chunk
// that cannot be read (cut file, bad tag) nothing further can be found.
void LoadedAnimation::ContinueAfterDamage(const char* path) {
  kiv::ReleaseFrames(Tables());
  damage_.assign(kiv::kMaxFrames, std::string());
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  const std::uint32_t firstDamaged =
      static_cast<std::uint32_t>(std::strtoul(error_.where.c_str() + std::strlen(kFramePrefix), nullptr, 10));
  const bool legacy = kiv::IsLegacyVersion(header_.version);
  const std::size_t framePicture = legacy ? kiv::kLegacyPictureSize : pictureSize();

  // Skip the background chunk and the repeat flags, which the load checked.
  std::int64_t position = header_.backgroundOffset;
  std::uint8_t head[kChunkHeaderSize] = {};
  bool lost = !file || std::fseek(file.get(), static_cast<long>(position), SEEK_SET) != 0 ||
              std::fread(head, 1, sizeof head, file.get()) != sizeof head;
  position += static_cast<std::int64_t>(kChunkHeaderSize + Le32(head + 4));
  if (kiv::HasRepeatFlags(header_.version)) position += 4 * static_cast<std::int64_t>(count());

  std::string lostAt;
  for (std::uint32_t f = first(); f <= last(); ++f) {
    if (repeatFlags_[f] != 0) {
      frames_[f] = frames_[f - 1];
      if (frames_[f] == nullptr) damage_[f] = "repeats damaged frame " + std::to_string(f - 1);
      continue;
    }
    const std::string strictReason = f == firstDamaged ? error_.what : std::string();
    if (lost) {
      damage_[f] = lostAt;
      continue;
    }
    auto chunk = std::make_unique<kiv::FrameChunk>();
    const std::int64_t left = static_cast<std::int64_t>(fileSize_) - position;
    const bool read = std::fseek(file.get(), static_cast<long>(position), SEEK_SET) == 0 &&
                      chunk->ReadChunkChecked(file.get(), left > 0 ? static_cast<std::uint64_t>(left) : 0) ==
                          kiv::ChunkReadStatus::kOk;
    if (!read) {
      damage_[f] = strictReason.empty() ? "chunk cannot be read" : strictReason;
      lost = true;
      lostAt = "lies after the damage in frame " + std::to_string(f);
      continue;
    }
    position += static_cast<std::int64_t>(kChunkHeaderSize) + chunk->compressedSize;
    if (chunk->CheckTokens(framePicture).status != kiv::DecodeStatus::kOk ||
        (legacy && !chunk->ConvertLegacyFrame(legacyScratch_.get(), kiv::kLegacyScratchSize))) {
      damage_[f] = strictReason.empty() ? "tokens do not fit the picture" : strictReason;
      continue;
    }
    frames_[f] = chunk.release();
  }
}

bool LoadedAnimation::Picture(std::uint32_t number, bool composite, std::uint8_t* picture) const {
  kiv::FrameChunk* chunk = frames_[number];
  if (chunk == nullptr) return false;
  const std::size_t size = pictureSize();
  // Each picture starts from 0, so a chunk shorter than its frame leaves 0,
  // not the previous frame, in the rest.
  if (!composite) {
    std::fill(picture, picture + size, 0);
    chunk->Decode(picture, size);
    return true;
  }
  std::vector<std::uint8_t> frame(size, 0);
  chunk->Decode(frame.data(), size);
  std::copy(backgroundBuffer_.get(), backgroundBuffer_.get() + size, picture);
  kiv::CopyRowsKeyed(frame.data(), picture, header_.height, header_.width, 0, 0);
  return true;
}

void ReportRefusal(const char* path, const kiv::AnimationError& error) {
  std::fprintf(stderr, "kivtool: %s: offset 0x%llx (%lld): %s: %s\n", path,
               static_cast<unsigned long long>(error.offset), static_cast<long long>(error.offset),
               error.where.c_str(), error.what.c_str());
}

void ReportIoError(const std::string& path, const std::string& message) {
  std::fprintf(stderr, "kivtool: %s: %s\n", path.c_str(), message.c_str());
}

namespace {

int Report(LoadedAnimation& animation, const char* path) {
  if (!animation.opened()) {
    ReportIoError(path, animation.error().what);
    return kExitUsage;
  }
  // Not the file's fault: said in the player's words, with the I/O status.
  if (animation.error().noMemory) {
    ReportIoError(path, animation.error().what);
    return kExitUsage;
  }
  ReportRefusal(path, animation.error());
  return kExitFinding;
}

}  // namespace

int LoadOrReport(LoadedAnimation& animation, const char* path) {
  return animation.Load(path) ? -1 : Report(animation, path);
}

int SalvageOrReport(LoadedAnimation& animation, const char* path) {
  return animation.Salvage(path) ? -1 : Report(animation, path);
}

}  // namespace kivtool
