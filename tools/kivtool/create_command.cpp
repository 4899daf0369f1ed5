// kivtool create -o OUT [--fps F] [options] INPUT...: builds an animation file
// from PNG pictures, animated GIFs and PNG streams on standard input, read
// as colours and mapped to the screen palette.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "anim/animation_writer.h"
#include "commands.h"
#include "convert/colour_map.h"
#include "convert/gif_frames.h"
#include "convert/gif_reader.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"
#include "loaded_animation.h"
#include "output_file.h"
#include "progress.h"

namespace kivtool {
namespace {

// Turns every picture read into screen indices, keeping the size of the
// first and the GIF delays seen.
class FrameCollector {
 public:
  FrameCollector(const CreateOptions& options, kiv::Dither dither)
      : options_(options), dither_(dither), mapper_(kiv::ComputeScreenPalette()) {}

  // Reads every picture of one input; false after reporting why not.
  bool ReadInput(const std::string& path);
  // Maps the background picture; false after reporting why not.
  bool ReadBackground(const std::string& path, std::vector<std::uint8_t>* background);

  std::vector<std::vector<std::uint8_t>>& frames() { return frames_; }
  const std::map<std::uint32_t, std::uint32_t>& delays() const { return delays_; }
  std::int32_t width() const { return limits_.width; }
  std::int32_t height() const { return limits_.height; }
  std::uint64_t inexact() const { return inexact_; }
  std::uint64_t opaquePixels() const { return pixels_; }

 private:
  bool ReadPngs(const std::string& path, std::FILE* stream, bool several);
  bool ReadGif(const std::string& path, std::FILE* stream);
  void Take(std::vector<std::uint8_t>* indices);
  bool Room(const std::string& path);

  const CreateOptions& options_;
  kiv::Dither dither_;
  kiv::ColourMapper mapper_;
  kiv::PictureLimits limits_;
  kiv::Picture picture_;  // reused for every input
  std::vector<std::vector<std::uint8_t>> frames_;
  std::map<std::uint32_t, std::uint32_t> delays_;  // GIF delay in cs -> how many frames
  std::uint64_t inexact_ = 0;
  std::uint64_t pixels_ = 0;
};

// A frame more must still get a number of 9998 or less.
bool FrameCollector::Room(const std::string& path) {
  if (frames_.size() < kiv::kMaxFrames - options_.first) return true;
  ReportIoError(path, "one frame too many: the last frame number would pass 9998");
  return false;
}

void FrameCollector::Take(std::vector<std::uint8_t>* indices) {
  if (limits_.width == 0) {
    limits_.width = picture_.width;
    limits_.height = picture_.height;
  }
  if (options_.keepIndices && picture_.indexed) {
    *indices = picture_.indices;
    return;
  }
  inexact_ += mapper_.Map(picture_, dither_, indices);
  pixels_ += indices->size();
}

bool FrameCollector::ReadPngs(const std::string& path, std::FILE* stream, bool several) {
  std::string error;
  for (std::size_t count = 0;; ++count) {
    const kiv::ReadStatus status = kiv::ReadPng(stream, limits_, &picture_, &error);
    if (status == kiv::ReadStatus::kEnd) {
      if (count > 0) return true;
      ReportIoError(path, several ? "holds no PNG picture" : "is empty");
      return false;
    }
    if (status == kiv::ReadStatus::kError) {
      ReportIoError(path, several ? "picture " + std::to_string(count + 1) + ": " + error : error);
      return false;
    }
    if (!Room(path)) return false;
    frames_.emplace_back();
    Take(&frames_.back());
    if (!several) return true;
  }
}

bool FrameCollector::ReadGif(const std::string& path, std::FILE* stream) {
  std::string error;
  kiv::GifReader gif;
  if (!gif.Open(stream, limits_, &error)) {
    ReportIoError(path, error);
    return false;
  }
  for (std::size_t count = 0;; ++count) {
    std::uint32_t delay = 0;
    const kiv::ReadStatus status = gif.Next(&picture_, &delay, &error);
    if (status == kiv::ReadStatus::kEnd) {
      if (count > 0) return true;
      ReportIoError(path, "holds no frame");
      return false;
    }
    if (status == kiv::ReadStatus::kError) {
      ReportIoError(path, "frame " + std::to_string(count + 1) + ": " + error);
      return false;
    }
    ++delays_[delay];
    if (!Room(path)) return false;
    frames_.emplace_back();
    Take(&frames_.back());
  }
}

bool FrameCollector::ReadInput(const std::string& path) {
  if (path == "-") return ReadPngs("standard input", stdin, true);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    ReportIoError(path, std::string("cannot open: ") + std::strerror(errno));
    return false;
  }
  // The signature decides the reader, whatever the name says.
  char signature[6] = {};
  const std::size_t got = std::fread(signature, 1, sizeof signature, file.get());
  std::rewind(file.get());
  if (got == sizeof signature &&
      (std::memcmp(signature, "GIF87a", 6) == 0 || std::memcmp(signature, "GIF89a", 6) == 0)) {
    return ReadGif(path, file.get());
  }
  return ReadPngs(path, file.get(), false);
}

bool FrameCollector::ReadBackground(const std::string& path, std::vector<std::uint8_t>* background) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    ReportIoError(path, std::string("cannot open: ") + std::strerror(errno));
    return false;
  }
  std::string error;
  if (kiv::ReadPng(file.get(), limits_, &picture_, &error) != kiv::ReadStatus::kPicture) {
    ReportIoError(path, error.empty() ? "is empty" : error);
    return false;
  }
  Take(background);
  return true;
}

// The frame rate GIF delays ask for: the most common delay wins (0 shows as
// 10 cs in browsers); one line says so when the delays vary.
float RateFromDelays(const std::map<std::uint32_t, std::uint32_t>& delays) {
  std::uint32_t common = 0, shortest = 0, longest = 0;
  const float rate = kiv::GifRateFromDelays(delays, &common, &shortest, &longest);
  if (shortest != longest) {
    std::fprintf(stderr,
                 "kivtool: create: the GIF frame delays vary from %u to %u cs; using %g fps from the most "
                 "common delay (%u cs)\n",
                 shortest, longest, static_cast<double>(rate), common);
  }
  return rate;
}

}  // namespace

int RunCreate(const CreateOptions& options) {
  if (options.fps && (!std::isfinite(*options.fps) || *options.fps < 0.0f)) {
    return UsageError("create: --fps needs a finite number, 0 or more");
  }
  std::size_t fromStdin = 0;
  for (const std::string& path : options.frames) fromStdin += path == "-" ? 1 : 0;
  if (fromStdin > 1) return UsageError("create: standard input (-) can be read only once");

  // The output is opened first, so that -n refuses before any work.
  std::string error;
  OutputFile out;
  if (!out.Open(options.output, options.noClobber, &error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }

  FrameCollector collector(options, options.dither);
  {
    Progress progress("create", options.frames.size(), options.quiet);
    std::size_t done = 0;
    for (const std::string& path : options.frames) {
      if (!collector.ReadInput(path)) return kExitUsage;
      progress.Update(++done);
    }
  }
  std::vector<std::vector<std::uint8_t>>& frames = collector.frames();
  std::vector<std::uint8_t> background;
  if (!options.background.empty() && !collector.ReadBackground(options.background, &background)) {
    return kExitUsage;
  }
  if (collector.inexact() > 0) {
    std::fprintf(stderr, "kivtool: create: %llu of %llu pixels had no exact screen-palette colour and took the nearest\n",
                 static_cast<unsigned long long>(collector.inexact()),
                 static_cast<unsigned long long>(collector.opaquePixels()));
  }

  kiv::AnimationWriteOptions write;
  write.markRepeats = true;
  write.version = options.version;
  write.firstFrame = options.first;
  write.width = collector.width();
  write.height = collector.height();
  const std::uint32_t last = options.first + static_cast<std::uint32_t>(frames.size()) - 1;
  write.loopStart = options.loopStart.value_or(options.first);
  write.loopEnd = options.loopEnd.value_or(last);
  if (options.fps) {
    write.frameRate = *options.fps;
  } else if (!collector.delays().empty()) {
    write.frameRate = RateFromDelays(collector.delays());
  } else {
    return UsageError("create: --fps is needed unless an animated GIF gives the frame rate");
  }
  std::vector<std::uint8_t> bytes;
  if (!kiv::WriteAnimationToMemory(write, frames, background, &bytes, &error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  frames.clear();
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out.stream()) != bytes.size()) out.NoteWriteError(errno);
  if (!out.Commit(&error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  return kExitOk;
}

Command AddCreateCommand(CLI::App& app) {
  auto options = std::make_shared<CreateOptions>();
  CreateOptions& o = *options;
  CLI::App* command = app.add_subcommand(
      "create", "build an animation file from PNG pictures, animated GIFs or a PNG stream");
  command->add_option("-o,--output", o.output, "the animation to write")->required()->type_name("OUT.kiv");
  command
      ->add_option_function<float>(
          "--fps", [options](const float& fps) { options->fps = fps; },
          "frame rate, a finite number 0 or more (default: from GIF delays)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("F");
  command->add_option("--version", o.version, "file version (default 949; 909 to 939 need 720x576)")
      ->check(CLI::IsMember({909, 919, 929, 939, 949}))
      ->type_name("V");
  command->add_option("--first", o.first, "number of the first frame")
      ->check(CLI::Range(0u, kiv::kLastFrameLimit))
      ->type_name("N");
  command
      ->add_option_function<std::uint32_t>(
          "--loop-start", [options](const std::uint32_t& frame) { options->loopStart = frame; },
          "loop start frame number in the header (default: the first frame)")
      ->check(CLI::Range(0u, kiv::kLastFrameLimit))
      ->type_name("N");
  command
      ->add_option_function<std::uint32_t>(
          "--loop-end", [options](const std::uint32_t& frame) { options->loopEnd = frame; },
          "loop end frame number in the header (default: the last frame)")
      ->check(CLI::Range(0u, kiv::kLastFrameLimit))
      ->type_name("N");
  static const std::map<std::string, kiv::Dither> kDithers{
      {"none", kiv::Dither::kNone}, {"ordered", kiv::Dither::kOrdered}, {"diffusion", kiv::Dither::kDiffusion}};
  command
      ->add_option_function<std::string>(
          "--dither", [options](const std::string& dither) { options->dither = kDithers.at(dither); },
          "none, ordered or diffusion (Floyd-Steinberg) for colours not in the palette (default none)")
      ->check(CLI::IsMember({"none", "ordered", "diffusion"}))
      ->type_name("none|ordered|diffusion");
  command->add_flag("--keep-indices", o.keepIndices,
                    "palette PNGs give their index numbers as they are, not their colours");
  command->add_option("--background", o.background, "the background picture (PNG)")->type_name("BG.png");
  command
      ->add_option("INPUT", o.frames,
                   "the frames: PNG pictures, animated GIFs, or - for a PNG stream on standard input; read as "
                   "colours and shown through the nearest screen-palette entries, alpha below half as index 127")
      ->required();
  AddQuietAndNoClobber(command, &o.noClobber, &o.quiet);
  return {command, [options] { return RunCreate(*options); }};
}

}  // namespace kivtool
