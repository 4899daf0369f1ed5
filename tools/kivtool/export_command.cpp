// kivtool export FILE -o OUTPUT: the frames as palette PNGs (a name pattern,
// or a PNG stream on standard output), as one animated GIF, or as raw RGB
// for ffmpeg's rawvideo input.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "convert/gif_writer.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"
#include "frame_job.h"
#include "frame_sinks.h"
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

void ReportSkipped(const std::string& path, std::uint32_t frame, const std::string& reason) {
  std::fprintf(stderr, "kivtool: %s: frame %u skipped: %s\n", path.c_str(), frame, reason.c_str());
}

// Which frames a GIF shows and for how long; false after reporting why none.
bool PlanGif(const char* path, const FrameJob& job, kiv::GifTiming* timing) {
  const kiv::AnimationHeader& h = job.animation.header();
  if (!(h.frameRate > 0.0f)) {
    ReportIoError(path, "frame rate 0 never advances; a GIF needs a rate above 0");
    return false;
  }
  const std::uint32_t count = job.range.to - job.range.from + 1;
  *timing = kiv::PlanGifTiming(count, static_cast<double>(h.frameRate));
  if (timing->dropped > 0) {
    std::fprintf(stderr,
                 "kivtool: %s: %u of %u frames left out: at %s frames a second some start less than "
                 "2 cs after the one before, which a GIF cannot show; the duration is kept\n",
                 path, timing->dropped, count, std::to_string(h.frameRate).c_str());
  }
  if (timing->clamped > 0) {
    std::fprintf(stderr, "kivtool: %s: %u frame delays cut to the 655.35 s a GIF can hold\n", path,
                 timing->clamped);
  }
  return true;
}

}  // namespace

int RunExport(const ExportOptions& options) {
  const std::string format = FormatOf(options);
  const bool toStdout = options.output == "-";
  const bool sequence = format == "png" && !toStdout;
  NamePattern pattern;
  if (sequence) {
    std::string why;
    if (!ParsePattern(options.output.c_str(), &pattern, &why)) return UsageError("export: " + why);
  }
  if (options.background && !sequence) return UsageError("export: --background needs a PNG name pattern");

  FrameJob job;
  if (const int status = PrepareFrameJob("export", options.file, options.frames, options.salvage, &job);
      status >= 0) {
    return status;
  }
  const LoadedAnimation& animation = job.animation;
  const char* path = options.file.c_str();

  // Every frame in turn, or, for a GIF, the frames it can show.
  kiv::GifTiming timing;
  if (format == "gif") {
    if (!PlanGif(path, job, &timing)) return kExitFinding;
  } else {
    for (std::uint32_t k = 0; k <= job.range.to - job.range.from; ++k) timing.shown.push_back({k, 0});
  }

  const std::vector<std::uint8_t> palette = kiv::ComputeScreenPalette();
  // 127 is transparent unless composed; raw RGB has no alpha and shows 127
  // in its palette colour, as the player does without background.
  SinkPicture shape{animation.header().width, animation.header().height, &palette,
                    options.composite || format == "rgb24" ? kiv::kNoTransparency
                                                           : static_cast<int>(kiv::TransparentIndex)};
  std::unique_ptr<FrameSink> sink;
  PngSequenceSink* pngSequence = nullptr;
  std::string error;
  bool opened = true;
  if (sequence) {
    auto pngs = std::make_unique<PngSequenceSink>(pattern, options.noClobber, shape);
    pngSequence = pngs.get();
    sink = std::move(pngs);
  } else if (format == "gif") {
    auto gif = std::make_unique<GifSink>(shape);
    opened = gif->Open(options.output, options.noClobber, &error);
    sink = std::move(gif);
  } else {
    auto stream = std::make_unique<StreamSink>(
        format == "rgb24" ? StreamSink::Format::kRawRgb : StreamSink::Format::kPng, shape);
    opened = stream->Open(options.output, options.noClobber, &error);
    sink = std::move(stream);
  }
  if (!opened) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }

  // A GIF keeps the picture before a damaged frame for the damaged frame's
  // time; the other outputs leave the damaged frame out.
  const bool holdOnDamage = format == "gif";
  std::vector<std::uint8_t> picture(animation.pictureSize());
  bool havePicture = false;
  int status = kExitOk;
  std::string where;
  Progress progress("export", timing.shown.size(), options.quiet);
  for (std::size_t i = 0; i < timing.shown.size(); ++i) {
    const std::uint32_t frame = job.range.from + timing.shown[i].index;
    if (!animation.Picture(frame, options.composite, picture.data())) {
      ReportSkipped(options.file, frame, animation.damageOf(frame));
      status = kExitFinding;
      if (!holdOnDamage || !havePicture) continue;
    } else {
      havePicture = true;
    }
    const unsigned long number = static_cast<unsigned long>(options.startNumber) + timing.shown[i].index;
    if (!sink->Write(number, picture.data(), timing.shown[i].centiseconds, &where, &error)) {
      progress.Finish();
      ReportIoError(where, error);
      return kExitUsage;
    }
    progress.Update(i + 1);
  }
  progress.Finish();
  if (pngSequence != nullptr && options.background &&
      !pngSequence->WriteNamed("background", animation.backgroundPicture(), kiv::kNoTransparency, &where,
                               &error)) {
    ReportIoError(where, error);
    return kExitUsage;
  }
  if (!sink->Finish(&where, &error)) {
    ReportIoError(where, error);
    return kExitUsage;
  }
  return status;
}

}  // namespace kivtool
