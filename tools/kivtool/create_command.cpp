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
#include "output_file.h"
#include "png_files.h"
#include "progress.h"

namespace kivtool {
namespace {

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

int RunCreate(const CreateOptions& options) {
  kiv::AnimationWriteOptions write;
  write.markRepeats = true;
  write.frameRate = options.fps;
  write.version = options.version;
  write.firstFrame = options.first;
  if (!std::isfinite(options.fps) || options.fps < 0.0f) {
    return UsageError("create: --fps needs a finite number, 0 or more");
  }
  if (options.frames.size() > kiv::kMaxFrames - options.first) {
    return UsageError("create: too many frames for the first frame number (the last must be 9998 or less)");
  }

  const std::vector<std::uint8_t> palette = ScreenPalette();
  std::vector<std::vector<std::uint8_t>> frames;
  PngPicture picture;
  Progress progress("create", options.frames.size(), options.quiet);
  for (const std::string& path : options.frames) {
    std::vector<std::uint8_t> indices;
    if (!LoadPicture(path.c_str(), palette, &picture, &indices)) return kExitUsage;
    if (frames.empty()) {
      write.width = picture.width;
      write.height = picture.height;
    } else if (picture.width != write.width || picture.height != write.height) {
      progress.Finish();
      ReportIoError(path, "is " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                              ", the first frame " + std::to_string(write.width) + "x" +
                              std::to_string(write.height));
      return kExitUsage;
    }
    frames.push_back(std::move(indices));
    progress.Update(frames.size());
  }
  progress.Finish();
  std::vector<std::uint8_t> background;
  if (!options.background.empty()) {
    if (!LoadPicture(options.background.c_str(), palette, &picture, &background)) return kExitUsage;
    if (picture.width != write.width || picture.height != write.height) {
      ReportIoError(options.background, "is not the size of the frames");
      return kExitUsage;
    }
  }
  std::string error;
  std::vector<std::uint8_t> bytes;
  if (!kiv::WriteAnimationToMemory(write, frames, background, &bytes, &error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  OutputFile out;
  if (!out.Open(options.output, options.noClobber, &error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out.stream()) != bytes.size()) out.NoteWriteError(errno);
  if (!out.Commit(&error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace kivtool
