// kivtool thumbnail [-s SIZE] INPUT OUTPUT.png: the first frame over the
// background, as the player shows it, shrunk to fit SIZE x SIZE. File
// managers call it through the .thumbnailer entry; a damaged file gives exit
// 1 and no output, so they mark it failed instead of showing garbage.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "commands.h"
#include "convert/image_scale.h"
#include "loaded_animation.h"
#include "output_file.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"

namespace kivtool {

int RunThumbnail(const ThumbnailOptions& options) {
  const char* path = options.input.c_str();
  LoadedAnimation animation;
  if (const int status = LoadOrReport(animation, path); status >= 0) return status;
  const kiv::AnimationHeader& h = animation.header();
  std::vector<std::uint8_t> picture(animation.pictureSize());
  animation.Picture(animation.first(), true, picture.data());
  const std::vector<std::uint8_t> palette = kiv::ScreenPalette();
  std::vector<std::uint8_t> rgb(picture.size() * 3);
  for (std::size_t i = 0; i < picture.size(); ++i) {
    for (std::size_t c = 0; c < 3; ++c) rgb[3 * i + c] = palette[3 * static_cast<std::size_t>(picture[i]) + c];
  }
  const kiv::Size source{h.width, h.height};
  const kiv::Size target = kiv::FitWithin(source, static_cast<std::int32_t>(options.size));
  const std::vector<std::uint8_t> scaled = kiv::ScaleByArea(rgb.data(), source, target);

  OutputFile out;
  std::string error;
  if (!out.Open(options.output, false, &error) ||
      !kiv::WriteRgbPng(out.stream(), scaled.data(), target.width, target.height, &error) || !out.Commit(&error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  return kExitOk;
}

Command AddThumbnailCommand(CLI::App& app) {
  auto options = std::make_shared<ThumbnailOptions>();
  CLI::App* command =
      app.add_subcommand("thumbnail", "a PNG of the first frame over the background, scaled to fit SIZE x SIZE");
  command->add_option("-s,--size", options->size, "the largest side in pixels (default 256)")
      ->check(CLI::Range(1u, 4096u))
      ->type_name("SIZE");
  command->add_option("INPUT", options->input, "the animation")->required();
  command->add_option("OUTPUT", options->output, "the PNG to write")->required();
  return {command, [options] { return RunThumbnail(*options); }};
}

}  // namespace kivtool
