// kivtool export FILE -o OUTPUT: the frames as palette PNGs (a name pattern,
// or a PNG stream on standard output), as one animated GIF, or as raw RGB
// for ffmpeg's rawvideo input.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "frame_range.h"
#include "convert/gif_writer.h"
#include "loaded_animation.h"
#include "name_pattern.h"
#include "output_file.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"
#include "playback/composition.h"
#include "progress.h"

namespace kivtool {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string FormatOf(const ExportOptions& options) {
  if (!options.format.empty()) return options.format;
  if (EndsWith(options.output, ".gif") || EndsWith(options.output, ".GIF")) return "gif";
  if (EndsWith(options.output, ".rgb") || EndsWith(options.output, ".raw")) return "rgb24";
  return "png";
}

// What every output format does with one frame.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // number: the frame number; index: its position in the export, from 0.
  virtual bool Write(std::uint32_t index, const std::uint8_t* picture, std::string* where,
                     std::string* error) = 0;
  virtual bool Finish(std::string* where, std::string* error) = 0;
};

class PngSequence : public FrameSink {
 public:
  PngSequence(const NamePattern& pattern, const ExportOptions& options, const LoadedAnimation& animation,
              const std::vector<std::uint8_t>& palette, int transparent)
      : pattern_(pattern), options_(options), animation_(animation), palette_(palette),
        transparent_(transparent) {}
  bool Write(std::uint32_t index, const std::uint8_t* picture, std::string* where, std::string* error) override {
    *where = pattern_.For(static_cast<unsigned long>(options_.startNumber) + index);
    return SavePalettePng(*where, options_.noClobber, picture, animation_.header().width,
                          animation_.header().height, palette_, transparent_, error);
  }
  bool Finish(std::string* where, std::string* error) override {
    if (!options_.background) return true;
    *where = pattern_.For("background");
    return SavePalettePng(*where, options_.noClobber, animation_.backgroundPicture(),
                          animation_.header().width, animation_.header().height, palette_,
                          kiv::kNoTransparency, error);
  }

 private:
  const NamePattern& pattern_;
  const ExportOptions& options_;
  const LoadedAnimation& animation_;
  const std::vector<std::uint8_t>& palette_;
  int transparent_;
};

// PNG stream or raw RGB in one output (a file or standard output).
class SingleOutput : public FrameSink {
 public:
  SingleOutput(bool rgb, const LoadedAnimation& animation, const std::vector<std::uint8_t>& palette,
               int transparent)
      : rgb_(rgb), animation_(animation), palette_(palette), transparent_(transparent) {}
  bool Open(const ExportOptions& options, std::string* error) {
    name_ = options.output;
    return file_.Open(options.output, options.noClobber, error);
  }
  bool Write(std::uint32_t, const std::uint8_t* picture, std::string* where, std::string* error) override {
    *where = name_;
    const kiv::AnimationHeader& h = animation_.header();
    if (!rgb_) return kiv::WritePalettePng(file_.stream(), picture, h.width, h.height, palette_, transparent_, error);
    const std::size_t size = animation_.pictureSize();
    rgb.resize(3 * size);
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint8_t* colour = &palette_[3 * static_cast<std::size_t>(picture[i])];
      rgb[3 * i] = colour[0];
      rgb[3 * i + 1] = colour[1];
      rgb[3 * i + 2] = colour[2];
    }
    errno = 0;
    if (std::fwrite(rgb.data(), 1, rgb.size(), file_.stream()) != rgb.size()) {
      *error = SystemReason(errno);
      return false;
    }
    return true;
  }
  bool Finish(std::string* where, std::string* error) override {
    *where = name_;
    return file_.Commit(error);
  }

 private:
  bool rgb_;
  const LoadedAnimation& animation_;
  const std::vector<std::uint8_t>& palette_;
  int transparent_;
  OutputFile file_;
  std::string name_;
  std::vector<std::uint8_t> rgb;
};

void ReportSkipped(const std::string& path, std::uint32_t frame, const std::string& reason) {
  std::fprintf(stderr, "kivtool: %s: frame %u skipped: %s\n", path.c_str(), frame, reason.c_str());
}

int ExportGif(const ExportOptions& options, const LoadedAnimation& animation, const FrameRange& range,
              const std::vector<std::uint8_t>& palette) {
  const char* path = options.file.c_str();
  const kiv::AnimationHeader& h = animation.header();
  if (!(h.frameRate > 0.0f)) {
    ReportIoError(path, "frame rate 0 never advances; a GIF needs a rate above 0");
    return kExitFinding;
  }
  const std::uint32_t count = range.to - range.from + 1;
  const kiv::GifTiming timing = kiv::PlanGifTiming(count, static_cast<double>(h.frameRate));
  if (timing.dropped > 0) {
    std::fprintf(stderr,
                 "kivtool: %s: %u of %u frames left out: at %s frames a second some start less than "
                 "2 cs after the one before, which a GIF cannot show; the duration is kept\n",
                 path, timing.dropped, count, std::to_string(h.frameRate).c_str());
  }
  if (timing.clamped > 0) {
    std::fprintf(stderr, "kivtool: %s: %u frame delays cut to the 655.35 s a GIF can hold\n", path,
                 timing.clamped);
  }
  OutputFile file;
  std::string error;
  if (!file.Open(options.output, options.noClobber, &error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  kiv::GifWriter gif;
  if (!gif.Open(file.stream(), h.width, h.height, palette,
                options.composite ? kiv::kNoTransparency : static_cast<int>(kiv::TransparentIndex), &error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  std::vector<std::uint8_t> picture(animation.pictureSize());
  bool havePicture = false;
  int status = kExitOk;
  Progress progress("export", timing.shown.size(), options.quiet);
  for (std::size_t i = 0; i < timing.shown.size(); ++i) {
    const std::uint32_t frame = range.from + timing.shown[i].index;
    if (!animation.Picture(frame, options.composite, picture.data())) {
      ReportSkipped(options.file, frame, animation.damageOf(frame));
      status = kExitFinding;
      // The picture before a damaged frame stays for its time.
      if (!havePicture) continue;
    }
    havePicture = true;
    if (!gif.Add(picture.data(), timing.shown[i].centiseconds, &error)) {
      progress.Finish();
      ReportIoError(options.output, error);
      return kExitUsage;
    }
    progress.Update(i + 1);
  }
  progress.Finish();
  if (!gif.Close(&error) || !file.Commit(&error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  return status;
}

}  // namespace

int RunExport(const ExportOptions& options) {
  const std::string format = FormatOf(options);
  const bool toStdout = options.output == "-";
  NamePattern pattern;
  if (format == "png" && !toStdout) {
    std::string why;
    if (!ParsePattern(options.output.c_str(), &pattern, &why)) return UsageError("export: " + why);
  }
  if (options.background && (format != "png" || toStdout)) {
    return UsageError("export: --background needs a PNG name pattern");
  }
  FrameRange range;
  if (!options.frames.empty() && !ParseFrameRange(options.frames, &range)) {
    return UsageError("export: --frames needs a range A-B of frame numbers with A <= B");
  }

  const char* path = options.file.c_str();
  LoadedAnimation animation;
  if (const int status = options.salvage ? SalvageOrReport(animation, path) : LoadOrReport(animation, path);
      status >= 0) {
    return status;
  }
  if (options.frames.empty()) {
    range = {animation.first(), animation.last()};
  } else if (range.from < animation.first() || range.to > animation.last()) {
    std::fprintf(stderr, "kivtool: %s: frames %u-%u lie outside the animation's %u-%u\n", path, range.from,
                 range.to, animation.first(), animation.last());
    return kExitUsage;
  }
  const std::vector<std::uint8_t> palette = kiv::ScreenPalette();
  if (format == "gif") return ExportGif(options, animation, range, palette);

  // PNGs carry 127 as transparent unless composed; raw RGB has no alpha and
  // shows 127 in its palette colour, as the player does without background.
  const int transparent = options.composite || format == "rgb24" ? kiv::kNoTransparency : static_cast<int>(kiv::TransparentIndex);
  std::unique_ptr<FrameSink> sink;
  std::string error;
  if (format == "png" && !toStdout) {
    sink = std::make_unique<PngSequence>(pattern, options, animation, palette, transparent);
  } else {
    auto single = std::make_unique<SingleOutput>(format == "rgb24", animation, palette, transparent);
    if (!single->Open(options, &error)) {
      ReportIoError(options.output, error);
      return kExitUsage;
    }
    sink = std::move(single);
  }

  std::vector<std::uint8_t> picture(animation.pictureSize());
  int status = kExitOk;
  std::string where;
  Progress progress("export", range.to - range.from + 1, options.quiet);
  for (std::uint32_t f = range.from; f <= range.to; ++f) {
    if (!animation.Picture(f, options.composite, picture.data())) {
      ReportSkipped(options.file, f, animation.damageOf(f));
      status = kExitFinding;
      continue;
    }
    if (!sink->Write(f - range.from, picture.data(), &where, &error)) {
      progress.Finish();
      ReportIoError(where, error);
      return kExitUsage;
    }
    progress.Update(f - range.from + 1);
  }
  progress.Finish();
  if (!sink->Finish(&where, &error)) {
    ReportIoError(where, error);
    return kExitUsage;
  }
  return status;
}

}  // namespace kivtool
