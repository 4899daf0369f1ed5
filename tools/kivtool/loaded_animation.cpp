#include "loaded_animation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "anim/salvage.h"
#include "commands.h"
#include "output_file.h"
#include "progress.h"
#include "playback/composition.h"

namespace kivtool {
namespace {

const std::string kNoDamage;

}  // namespace

std::size_t LoadedAnimation::pictureSize() const {
  return static_cast<std::size_t>(header_.width) * static_cast<std::size_t>(header_.height);
}

const std::string& LoadedAnimation::damageOf(std::uint32_t number) const {
  return damage_.empty() ? kNoDamage : damage_[number];
}

std::uint32_t LoadedAnimation::readableFrames() const {
  std::uint32_t readable = 0;
  for (std::uint32_t f = first(); f <= last(); ++f) readable += tables_.frames[f] != nullptr ? 1 : 0;
  return readable;
}

// Reads the whole file once; every later step works on its bytes.
bool LoadedAnimation::Open(const char* path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    error_ = {0, "file", std::strerror(errno)};
    return false;
  }
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(file.get());
    if (size > 0) bytes_.reserve(static_cast<std::size_t>(size));
    std::rewind(file.get());
  }
  std::uint8_t piece[1 << 16];
  for (;;) {
    // A path that opens but cannot be read (a directory) is an I/O error too.
    errno = 0;
    const std::size_t got = kiv::ReadFully(piece, sizeof piece, file.get());
    if (got < sizeof piece && std::ferror(file.get())) {
      error_ = {0, "file", std::strerror(errno != 0 ? errno : EIO)};
      return false;
    }
    bytes_.insert(bytes_.end(), piece, piece + got);
    if (got < sizeof piece) break;
  }
  return TakeBytes();
}

// The bytes in bytes_ are the file: reads its header.
bool LoadedAnimation::TakeBytes() {
  opened_ = true;
  fileSize_ = bytes_.size();
  headerRead_ = kiv::ReadAnimationHeaderBytes(bytes_, &header_, &error_);
  return headerRead_;
}

bool LoadedAnimation::Load(const char* path) { return Open(path) && Attach(); }

bool LoadedAnimation::LoadBytes(std::vector<std::uint8_t> bytes) {
  bytes_ = std::move(bytes);
  return TakeBytes() && Attach();
}

bool LoadedAnimation::Attach() {
  kiv::AnimationLoader loader(Tables());
  loader.Attach(bytes_, true);  // the chunks point into bytes_, which outlives them
  const bool loaded = loader.Run(&error_);
  note_ = loader.Note();
  return loaded;
}

bool LoadedAnimation::Salvage(const char* path) {
  if (Load(path)) return true;
  if (!headerRead_) return false;
  return kiv::SalvageFrames(bytes_, header_, error_, Tables(), &damage_);
}

bool LoadedAnimation::Picture(std::uint32_t number, bool composite, std::uint8_t* picture) const {
  kiv::FrameChunk* chunk = tables_.frames[number];
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
  std::copy(tables_.backgroundBuffer.get(), tables_.backgroundBuffer.get() + size, picture);
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
