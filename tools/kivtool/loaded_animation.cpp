#include "loaded_animation.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "anim/salvage.h"
#include "commands.h"
#include "output_file.h"
#include "progress.h"
#include "playback/composition.h"

namespace kivtool {
namespace {

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
  kiv::AnimationLoader loader(Tables());
  if (!loader.Open(path, &error_)) return false;
  kiv::AnimationLoader::Status status;
  do {
    status = loader.Advance(std::chrono::hours(1), &error_);
  } while (status == kiv::AnimationLoader::Status::kMore);
  note_ = loader.Note();
  return status == kiv::AnimationLoader::Status::kDone;
}

bool LoadedAnimation::Salvage(const char* path) {
  if (Load(path)) return true;
  if (!headerRead_) return false;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  return kiv::SalvageFrames(file.get(), fileSize_, header_, error_, Tables(), &damage_);
}

bool LoadedAnimation::Picture(std::uint32_t number, bool composite, std::uint8_t* picture) const {
  kiv::FrameChunk* chunk = frames_[number];
  if (chunk == nullptr) return false;
  const std::size_t size = pictureSize();
  // Each picture starts from 0, so a chunk shorter than its frame leaves 0,
  // not the previous frame, in the rest.
  // A chunk may expand past its picture within the player's frame buffer;
  // only the picture's bytes are kept.
  if (!composite) {
    std::fill(picture, picture + size, 0);
    chunk->DecodeClipped(picture, size, kiv::kFrameBufferSize);
    return true;
  }
  std::vector<std::uint8_t> frame(size, 0);
  chunk->DecodeClipped(frame.data(), size, kiv::kFrameBufferSize);
  std::copy(backgroundBuffer_.get(), backgroundBuffer_.get() + size, picture);
  kiv::CopyRowsKeyed(frame.data(), picture, header_.height, header_.width, 0, 0);
  return true;
}

void ReportRefusal(const char* path, const kiv::AnimationError& error) {
  Say("kivtool: %s: offset 0x%llx (%lld): %s: %s\n", path,
               static_cast<unsigned long long>(error.offset), static_cast<long long>(error.offset),
               error.where.c_str(), error.what.c_str());
}

void ReportIoError(const std::string& path, const std::string& message) {
  Say("kivtool: %s: %s\n", path.c_str(), message.c_str());
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
