#include "loaded_animation.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "image/text.h"
#include "playback/composition.h"

namespace kivtool {
namespace {
constexpr std::size_t kColourMapOffset = 18;
constexpr std::size_t kPaletteBytes = 768;
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

bool LoadedAnimation::Load(const char* path) {
  std::FILE* probe = std::fopen(path, "rb");
  if (probe == nullptr) {
    error_ = {0, "file", std::strerror(errno)};
    return false;
  }
  // A path that opens but cannot be read (a directory) is an I/O error too.
  errno = 0;
  if (std::fgetc(probe) == EOF && std::ferror(probe)) {
    error_ = {0, "file", std::strerror(errno != 0 ? errno : EIO)};
    std::fclose(probe);
    return false;
  }
  opened_ = true;
  const bool headerOk = kiv::ReadAnimationHeaderStream(probe, &header_, &error_);
  std::fclose(probe);
  if (!headerOk) return false;
  return kiv::LoadAnimation(path, Tables(), &error_);
}

void ReportRefusal(const char* path, const kiv::AnimationError& error) {
  std::fprintf(stderr, "kivtool: %s: offset 0x%llx (%lld): %s: %s\n", path,
               static_cast<unsigned long long>(error.offset), static_cast<long long>(error.offset),
               error.where.c_str(), error.what.c_str());
}

void ReportIoError(const char* path, const std::string& message) {
  std::fprintf(stderr, "kivtool: %s: %s\n", path, message.c_str());
}

std::vector<std::uint8_t> ScreenPalette() {
  std::vector<std::uint8_t> palette(kPaletteBytes, 0);
  const std::uint8_t* sheet = kiv::FontSheetData();
  if (sheet != nullptr && kiv::FontSheetSize() >= kColourMapOffset + kPaletteBytes) {
    const std::uint8_t* map = sheet + kColourMapOffset;
    for (std::size_t i = 0; i < 256; ++i) {
      palette[3 * i + 0] = map[3 * i + 2];
      palette[3 * i + 1] = map[3 * i + 1];
      palette[3 * i + 2] = map[3 * i + 0];
    }
  }
  kiv::BuildScreenPalette(palette.data());
  return palette;
}

int LoadOrReport(LoadedAnimation& animation, const char* path) {
  if (animation.Load(path)) return -1;
  if (!animation.opened()) {
    ReportIoError(path, animation.error().what);
    return kExitUsage;
  }
  ReportRefusal(path, animation.error());
  return kExitFinding;
}

}  // namespace kivtool
