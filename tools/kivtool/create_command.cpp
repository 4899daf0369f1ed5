// kivtool create -o OUT --fps F [--version V] [--first N] [--background PNG]
// FRAME.png...: builds an animation file from PNG pictures.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "anim/animation_writer.h"
#include "commands.h"
#include "loaded_animation.h"
#include "png_files.h"

namespace kivtool {
namespace {

bool ParseUnsigned(const char* text, unsigned long limit, unsigned long* value) {
  if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long parsed = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed > limit) return false;
  *value = parsed;
  return true;
}

// A palette PNG keeps its indices; any other takes the nearest colours.
bool LoadPicture(const char* path, const std::vector<std::uint8_t>& palette, PngPicture* picture,
                 std::vector<std::uint8_t>* indices) {
  std::string error;
  if (!ReadPng(path, picture, &error)) {
    ReportIoError(path, error);
    return false;
  }
  *indices = picture->indexed ? std::move(picture->pixels) : NearestIndices(picture->pixels, palette);
  return true;
}

}  // namespace

int RunCreate(int argc, char** argv) {
  const char* out = nullptr;
  const char* backgroundPath = nullptr;
  bool haveRate = false;
  kiv::AnimationWriteOptions options;
  options.markRepeats = true;
  std::vector<const char*> framePaths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-o" || arg == "--fps" || arg == "--version" || arg == "--first" || arg == "--background") {
      if (!hasValue) return UsageError(("create: " + arg + " needs a value").c_str());
      const char* value = argv[++i];
      unsigned long number = 0;
      if (arg == "-o") {
        out = value;
      } else if (arg == "--background") {
        backgroundPath = value;
      } else if (arg == "--fps") {
        char* end = nullptr;
        const float rate = std::strtof(value, &end);
        if (end == value || *end != '\0' || !std::isfinite(rate) || rate < 0.0f) {
          return UsageError("create: --fps needs a finite number, 0 or more");
        }
        options.frameRate = rate;
        haveRate = true;
      } else if (arg == "--version") {
        if (!ParseUnsigned(value, 1000, &number) || !kiv::IsKnownVersion(static_cast<std::int32_t>(number))) {
          return UsageError("create: --version is one of 909, 919, 929, 939, 949");
        }
        options.version = static_cast<std::int32_t>(number);
      } else {
        if (!ParseUnsigned(value, kiv::kLastFrameLimit, &number)) {
          return UsageError("create: --first is a frame number from 0 to 9998");
        }
        options.firstFrame = static_cast<std::uint32_t>(number);
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(("create: unknown option " + arg).c_str());
    } else {
      framePaths.push_back(argv[i]);
    }
  }
  if (out == nullptr) return UsageError("create: -o OUT is required");
  if (!haveRate) return UsageError("create: --fps F is required");
  if (framePaths.empty()) return UsageError("create: no FRAME.png given");
  if (framePaths.size() > kiv::kMaxFrames - options.firstFrame) {
    return UsageError("create: too many frames for the first frame number (the last must be 9998 or less)");
  }

  const std::vector<std::uint8_t> palette = ScreenPalette();
  std::vector<std::vector<std::uint8_t>> frames;
  PngPicture picture;
  for (const char* path : framePaths) {
    std::vector<std::uint8_t> indices;
    if (!LoadPicture(path, palette, &picture, &indices)) return kExitUsage;
    if (frames.empty()) {
      options.width = picture.width;
      options.height = picture.height;
    } else if (picture.width != options.width || picture.height != options.height) {
      ReportIoError(path, "is " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                              ", the first frame " + std::to_string(options.width) + "x" +
                              std::to_string(options.height));
      return kExitUsage;
    }
    frames.push_back(std::move(indices));
  }
  std::vector<std::uint8_t> background;
  if (backgroundPath != nullptr) {
    if (!LoadPicture(backgroundPath, palette, &picture, &background)) return kExitUsage;
    if (picture.width != options.width || picture.height != options.height) {
      ReportIoError(backgroundPath, "is not the size of the frames");
      return kExitUsage;
    }
  }
  std::string error;
  if (!kiv::WriteAnimation(out, options, frames, background, &error)) {
    ReportIoError(out, error);
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace kivtool
