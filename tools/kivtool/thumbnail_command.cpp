// kivtool thumbnail [-s SIZE] INPUT OUTPUT.png (or INPUT... -o PATTERN): the first frame over the
// background, as the player shows it, shrunk to fit SIZE x SIZE. File
// managers call it through the .thumbnailer entry; a damaged file gives exit
// 1 and no output, so they mark it failed instead of showing garbage.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "progress.h"
#include "convert/image_scale.h"
#include "loaded_animation.h"
#include "output_file.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"

namespace kivtool {

namespace {

int ThumbnailFile(const ThumbnailOptions& options, const std::string& input) {
  const char* path = input.c_str();
  const std::string output = WithInputName(options.output, InputName(input));
  std::string error;
  if (HasInputName(options.output) && !MakeFolderFor(output, &error)) {
    ReportIoError(input, "cannot make the output folder: " + error);
    return kExitUsage;
  }
  LoadedAnimation animation;
  if (const int status = LoadOrReport(animation, path); status >= 0) return status;
  const kiv::AnimationHeader& h = animation.header();
  std::vector<std::uint8_t> picture(animation.pictureSize());
  animation.Picture(animation.first(), true, picture.data());
  const std::vector<std::uint8_t> palette = kiv::ComputeScreenPalette();
  std::vector<std::uint8_t> rgb(picture.size() * 3);
  for (std::size_t i = 0; i < picture.size(); ++i) {
    for (std::size_t c = 0; c < 3; ++c) rgb[3 * i + c] = palette[3 * static_cast<std::size_t>(picture[i]) + c];
  }
  const kiv::Size source{h.width, h.height};
  const kiv::Size target = kiv::FitWithin(source, static_cast<std::int32_t>(options.size));
  const std::vector<std::uint8_t> scaled = kiv::ScaleByArea(rgb.data(), source, target);

  OutputFile out;
  if (!out.Open(output, false, &error) ||
      !kiv::WriteRgbPng(out.stream(), scaled.data(), target.width, target.height, &error) || !out.Commit(&error)) {
    ReportIoError(output, error);
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace

int RunThumbnail(const ThumbnailOptions& options) {
  if (!ManyInputs(options.inputs)) return ThumbnailFile(options, options.inputs[0]);
  if (!HasInputName(options.output)) {
    return UsageError("thumbnail: OUTPUT needs %n, the input's name, when there are several inputs");
  }
  std::vector<std::string> inputs;
  if (!CollectInputsOrReport(options.inputs, options.recursive, &inputs)) return kExitUsage;
  int worst = kExitOk;
  for (const std::string& input : inputs) worst = std::max(worst, ThumbnailFile(options, input));
  return worst;
}

Command AddThumbnailCommand(CLI::App& app) {
  auto options = std::make_shared<ThumbnailOptions>();
  CLI::App* command =
      app.add_subcommand("thumbnail", "a PNG of the first frame over the background, scaled to fit SIZE x SIZE");
  command->add_option("-s,--size", options->size, "the largest side in pixels (default 256)")
      ->check(CLI::Range(1u, 4096u))
      ->type_name("SIZE");
  command->add_option("INPUT", options->inputs, "INPUT OUTPUT.png: the animation and the PNG to write")
      ->required();
  CLI::Option* pattern = command->add_option(
      "-o,--output", options->output,
      "the PNG for every INPUT (files, or directories of them); %n stands for the input's name without .kiv");
  pattern->type_name("PATTERN");
  command->add_flag("-r,--recursive", options->recursive, "also the animations in the directories' subdirectories");
  return {command, [options, pattern] {
            // Without -o the last word is the output: kivtool thumbnail INPUT OUTPUT.png.
            if (pattern->count() == 0) {
              if (options->inputs.size() != 2) return UsageError("thumbnail: needs INPUT OUTPUT.png, or -o PATTERN");
              options->output = options->inputs.back();
              options->inputs.pop_back();
            }
            return RunThumbnail(*options);
          }};
}

}  // namespace kivtool
