// kivtool export FILE... -o OUTPUT: the frames as palette PNGs (a name
// pattern, or a PNG stream on standard output), as one animated GIF or
// lossless animated WebP, as a video made by ffmpeg, or as raw RGB for
// ffmpeg's rawvideo input. Several files or directories are converted side
// by side, their output names made from a pattern with %n.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "convert/gif_writer.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"
#include "ffmpeg_pipe.h"
#include "frame_job.h"
#include "frame_sinks.h"
#include "json_text.h"
#include "progress.h"

namespace kivtool {
namespace {

enum class ExportFormat { kPng, kGif, kRgb24, kWebp, kVideo };

struct ExportOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::optional<ExportFormat> format;  // none: from the output name
  bool composite = false;
  bool background = false;
  std::string frames;  // "A-B"; empty: all
  std::uint32_t startNumber = 0;
  bool salvage = false;
  bool noClobber = false;
  bool quiet = false;
  bool recursive = false;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  bool lossless = false;
  std::vector<std::string> ffmpegArgs;
};

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

ExportFormat FormatOf(const ExportOptions& options) {
  if (options.format) return *options.format;
  const std::string& out = options.output;
  if (EndsWith(out, ".gif") || EndsWith(out, ".GIF")) return ExportFormat::kGif;
  if (EndsWith(out, ".webp") || EndsWith(out, ".WEBP")) return ExportFormat::kWebp;
  if (EndsWith(out, ".rgb") || EndsWith(out, ".raw")) return ExportFormat::kRgb24;
  if (VideoContainerOf(out)) return ExportFormat::kVideo;
  return ExportFormat::kPng;
}

// Outputs that show frames for a time: they need a frame rate above 0.
bool Timed(ExportFormat format) {
  return format == ExportFormat::kGif || format == ExportFormat::kWebp || format == ExportFormat::kVideo;
}

// The frames written: each one's position in the export and how long a GIF shows it.
using Shown = std::vector<kiv::GifShown>;

// Which frames a GIF shows and for how long, saying what had to give.
void PlanGif(const char* path, const FrameJob& job, kiv::GifTiming* timing) {
  const kiv::AnimationHeader& h = job.animation.header();
  const std::uint32_t count = job.range.to - job.range.from + 1;
  *timing = kiv::PlanGifTiming(count, static_cast<double>(h.frameRate));
  if (timing->dropped > 0) {
    Say("kivtool: %s: %u of %u frames left out: at %s frames a second some start less than "
        "2 cs after the one before, which a GIF cannot show; the duration is kept\n",
        path, timing->dropped, count, std::to_string(h.frameRate).c_str());
  }
  if (timing->clamped > 0) {
    Say("kivtool: %s: %u frame delays cut to the 655.35 s a GIF can hold\n", path, timing->clamped);
  }
}

// One input's conversion: where it goes and what it writes with.
struct FileExport {
  const ExportOptions& options;
  ExportFormat format;
  std::string input;
  std::string output;
  FrameJob job;
  std::vector<std::uint8_t> palette;
  std::unique_ptr<FrameSink> sink;
  PngSequenceSink* pngSequence = nullptr;
};

// Opens the sink for the format; kExitOk, or the status after reporting why not.
int OpenSink(FileExport& e) {
  const kiv::AnimationHeader& h = e.job.animation.header();
  if (Timed(e.format) && !(h.frameRate > 0.0f)) {
    const char* kind = e.format == ExportFormat::kGif ? "GIF" : e.format == ExportFormat::kWebp ? "WebP" : "video";
    ReportIoError(e.input, std::string("frame rate 0 never advances; a ") + kind + " needs a rate above 0");
    return kExitFinding;
  }
  // 127 is transparent unless composed; raw RGB and video have no alpha and
  // show 127 in its palette colour, as the player does without background.
  const bool opaque = e.options.composite || e.format == ExportFormat::kRgb24 || e.format == ExportFormat::kVideo;
  const SinkPicture shape{h.width, h.height, &e.palette,
                          opaque ? kiv::kNoTransparency : static_cast<int>(kiv::TransparentIndex)};
  const std::uint32_t count = e.job.range.to - e.job.range.from + 1;
  std::string error;
  bool opened = true;
  if (e.format == ExportFormat::kPng && e.output != "-") {
    NamePattern pattern;
    ParsePattern(e.output.c_str(), &pattern, &error);  // checked before the run
    auto pngs = std::make_unique<PngSequenceSink>(pattern, e.options.noClobber, shape);
    e.pngSequence = pngs.get();
    e.sink = std::move(pngs);
  } else if (e.format == ExportFormat::kGif) {
    auto gif = std::make_unique<GifSink>(shape);
    opened = gif->Open(e.output, e.options.noClobber, &error);
    e.sink = std::move(gif);
  } else if (e.format == ExportFormat::kWebp) {
    auto webp = std::make_unique<WebpSink>(shape);
    opened = webp->Open(e.output, e.options.noClobber, count, static_cast<double>(h.frameRate), &error);
    e.sink = std::move(webp);
  } else if (e.format == ExportFormat::kVideo) {
    const VideoSettings settings{h.width, h.height, ShortestDecimal(h.frameRate), e.options.lossless,
                                 e.options.ffmpegArgs};
    auto video = std::make_unique<VideoSink>(shape);
    opened = video->Open(e.output, e.options.noClobber, *VideoContainerOf(e.output), settings, &error);
    e.sink = std::move(video);
  } else {
    auto stream = std::make_unique<StreamSink>(
        e.format == ExportFormat::kRgb24 ? StreamSink::Format::kRawRgb : StreamSink::Format::kPng, shape);
    opened = stream->Open(e.output, e.options.noClobber, &error);
    e.sink = std::move(stream);
  }
  if (!opened) {
    ReportIoError(e.output, error);
    return kExitUsage;
  }
  return kExitOk;
}

// Hands every shown frame to the sink; the status, kExitInterrupted when stopped.
int WriteFrames(FileExport& e, const Shown& shown, FileProgress& progress) {
  const LoadedAnimation& animation = e.job.animation;
  // Outputs with a time line keep the picture before a damaged frame for the
  // damaged frame's time; the others leave the damaged frame out.
  const bool holdOnDamage = Timed(e.format);
  const bool numbered = e.pngSequence != nullptr;
  std::vector<std::uint8_t> picture(animation.pictureSize());
  bool havePicture = false;
  int status = kExitOk;
  std::string where, error;
  progress.Start(shown.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (Interrupted()) return kExitInterrupted;
    const std::uint32_t frame = e.job.range.from + shown[i].index;
    if (!animation.Picture(frame, e.options.composite, picture.data())) {
      Say("kivtool: %s: frame %u skipped: %s\n", e.input.c_str(), frame, animation.damageOf(frame).c_str());
      status = kExitFinding;
      if (!holdOnDamage || !havePicture) continue;
    } else {
      havePicture = true;
    }
    const unsigned long number = (numbered ? e.options.startNumber : 0ul) + shown[i].index;
    if (!e.sink->Write(number, picture.data(), shown[i].centiseconds, &where, &error)) {
      progress.Finish();
      ReportIoError(where, error);
      return kExitUsage;
    }
    progress.Update(i + 1);
  }
  progress.Finish();
  if (e.pngSequence != nullptr && e.options.background &&
      !e.pngSequence->WriteNamed("background", animation.backgroundPicture(), kiv::kNoTransparency, &where,
                                 &error)) {
    ReportIoError(where, error);
    return kExitUsage;
  }
  if (!e.sink->Finish(&where, &error)) {
    ReportIoError(where, error);
    return kExitUsage;
  }
  return status;
}

FileOutcome ExportFile(const ExportOptions& options, const std::string& input, FileProgress& progress) {
  FileExport e{options, FormatOf(options), input, WithInputName(options.output, InputName(input)), {},
               kiv::ComputeScreenPalette(), nullptr, nullptr};
  if (const int status = PrepareFrameJob("export", input, options.frames, options.salvage, &e.job); status >= 0) {
    return {status, false};
  }
  // Made only for a file that loads: a damaged one leaves no empty folder.
  std::string error;
  if (HasInputName(options.output) && !MakeFolderFor(e.output, &error)) {
    ReportIoError(input, "cannot make the output folder: " + error);
    return {kExitUsage, false};
  }
  kiv::GifTiming timing;
  if (e.format == ExportFormat::kGif && e.job.animation.header().frameRate > 0.0f) {
    PlanGif(input.c_str(), e.job, &timing);
  } else {
    for (std::uint32_t k = 0; k <= e.job.range.to - e.job.range.from; ++k) timing.shown.push_back({k, 0});
  }
  if (const int status = OpenSink(e); status != kExitOk) return {status, false};
  const int status = WriteFrames(e, timing.shown, progress);
  if (status == kExitInterrupted) e.sink->Discard();
  if (const auto* webp = dynamic_cast<const WebpSink*>(e.sink.get()); webp != nullptr && webp->dropped() > 0) {
    Say("kivtool: %s: %u of %zu frames left out: at %s frames a second some start in the millisecond of the "
        "one before, which a WebP cannot show; the duration is kept\n",
        input.c_str(), webp->dropped(), timing.shown.size(),
        ShortestDecimal(e.job.animation.header().frameRate).c_str());
  }
  return {status, status <= kExitFinding};
}

// Checks what holds for every input; kExitOk, or the usage error reported.
int CheckExport(const ExportOptions& options, bool many) {
  const ExportFormat format = FormatOf(options);
  const bool sequence = format == ExportFormat::kPng && options.output != "-";
  if (many && !HasInputName(options.output)) {
    return UsageError("export: OUTPUT needs %n, the input's name, when there are several inputs");
  }
  if (sequence) {
    NamePattern pattern;
    std::string why;
    if (!ParsePattern(WithInputName(options.output, "name").c_str(), &pattern, &why)) {
      return UsageError("export: " + why);
    }
  }
  if (options.background && !sequence) return UsageError("export: --background needs a PNG name pattern");
  FrameRange range;
  if (!options.frames.empty() && !ParseFrameRange(options.frames, &range)) {
    return UsageError("export: --frames needs a range A-B of frame numbers with A <= B");
  }
  if (format == ExportFormat::kVideo && !VideoContainerOf(options.output)) {
    return UsageError("export: a video needs an OUTPUT ending in .mp4, .webm, .mkv or .mov");
  }
  if (format == ExportFormat::kVideo && !FfmpegOnPath()) {
    Say("kivtool: %s\n", kNoFfmpeg);
    return kExitUsage;
  }
  return kExitOk;
}

int RunExport(const ExportOptions& options) {
  const bool many = ManyInputs(options.inputs);
  if (const int status = CheckExport(options, many); status != kExitOk) return status;
  return RunFiles({"export", options.jobs, options.quiet}, options.inputs, options.recursive,
                  [&options](const std::string& input, FileProgress& progress) {
                    return ExportFile(options, input, progress);
                  });
}

// Splits --ffmpeg-args at blanks: no shell sees it, so no quoting either.
std::vector<std::string> Words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

}  // namespace

Command AddExportCommand(CLI::App& app) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* command = app.add_subcommand(
      "export", "write the frames as PNG pictures, an animated GIF or WebP, a video, or raw RGB for ffmpeg");
  command->add_option("FILE", options->inputs, "the animations: files, or directories of them")->required();
  command
      ->add_option("-o,--output", options->output,
                   "a PNG name pattern with %d or %0Nd, a .gif, .webp, .mp4, .webm, .mkv or .mov name, or - for "
                   "standard output; %n stands for the input's name without .kiv")
      ->required()
      ->type_name("OUTPUT");
  static const std::map<std::string, ExportFormat> kFormats{{"png", ExportFormat::kPng},
                                                            {"gif", ExportFormat::kGif},
                                                            {"rgb24", ExportFormat::kRgb24},
                                                            {"webp", ExportFormat::kWebp}};
  command
      ->add_option_function<std::string>(
          "--format", [options](const std::string& format) { options->format = kFormats.at(format); },
          "png, gif, webp or rgb24 (default: from OUTPUT; - gives PNGs)")
      ->check(CLI::IsMember({"png", "gif", "rgb24", "webp"}))
      ->type_name("png|gif|webp|rgb24");
  command->add_flag("--composite", options->composite,
                    "each frame over the background through index 127, as the player shows it "
                    "(without: 127 is transparent)");
  command->add_flag("--background", options->background,
                    "also write the background picture, \"background\" in place of the number");
  command->add_option("--frames", options->frames, "only frames A to B (frame numbers)")->type_name("A-B");
  command->add_option("--start-number", options->startNumber, "number of the first file of a PNG sequence (default 0)")
      ->type_name("N");
  command->add_flag("--salvage", options->salvage, "write every frame that decodes, skip damaged ones (exit 1 if any)");
  command->add_flag("-r,--recursive", options->recursive, "also the animations in the directories' subdirectories");
  command->add_option("-j,--jobs", options->jobs, "files converted at once (default: the number of cores)")
      ->check(CLI::Range(1u, 1024u))
      ->type_name("N");
  command->add_flag("--lossless", options->lossless, "a video with a lossless codec (H.264 or VP9 in RGB)");
  command->add_option_function<std::string>(
      "--ffmpeg-args", [options](const std::string& text) { options->ffmpegArgs = Words(text); },
      "more ffmpeg arguments for a video, put before the output name")
      ->type_name("ARGS");
  AddQuietAndNoClobber(command, &options->noClobber, &options->quiet);
  return {command, [options] { return RunExport(*options); }};
}

}  // namespace kivtool
