// kivtool palette -o FILE: the screen palette for artists, as a 16 x 16
// PNG swatch (one pixel per entry, the transparent index transparent) or,
// for a .gpl name, a GIMP palette.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"
#include "loaded_animation.h"
#include "output_file.h"

namespace kivtool {
namespace {

constexpr std::int32_t kSwatchSide = 16;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string GimpPalette(const std::vector<std::uint8_t>& palette) {
  std::string text = "GIMP Palette\nName: kivplay screen\nColumns: 16\n#\n";
  char line[64];
  for (std::size_t i = 0; i < kiv::kPaletteEntries; ++i) {
    const char* note = i == kiv::TransparentIndex ? " (transparent)" : "";
    std::snprintf(line, sizeof line, "%3u %3u %3u\tIndex %zu%s\n", palette[3 * i], palette[3 * i + 1],
                  palette[3 * i + 2], i, note);
    text += line;
  }
  return text;
}

}  // namespace

int RunPalette(const PaletteOptions& options) {
  const std::vector<std::uint8_t> palette = kiv::ComputeScreenPalette();
  std::string error;
  if (EndsWith(options.output, ".gpl")) {
    const std::string text = GimpPalette(palette);
    OutputFile out;
    if (!out.Open(options.output, options.noClobber, &error)) {
      ReportIoError(options.output, error);
      return kExitUsage;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out.stream()) != text.size()) out.NoteWriteError(errno);
    if (!out.Commit(&error)) {
      ReportIoError(options.output, error);
      return kExitUsage;
    }
    return kExitOk;
  }
  std::vector<std::uint8_t> swatch(kiv::kPaletteEntries);
  for (std::size_t i = 0; i < swatch.size(); ++i) swatch[i] = static_cast<std::uint8_t>(i);
  if (!SavePalettePng(options.output, options.noClobber, swatch.data(), kSwatchSide, kSwatchSide, palette,
                      kiv::TransparentIndex, &error)) {
    ReportIoError(options.output, error);
    return kExitUsage;
  }
  return kExitOk;
}

Command AddPaletteCommand(CLI::App& app) {
  auto options = std::make_shared<PaletteOptions>();
  CLI::App* command = app.add_subcommand(
      "palette", "write the screen palette: a 16x16 PNG swatch (index 127 transparent) or a GIMP .gpl");
  command->add_option("-o,--output", options->output, "a .png or .gpl file, or - for a PNG on standard output")
      ->required()
      ->type_name("FILE.png|FILE.gpl");
  command->add_flag("-n,--no-clobber", options->noClobber, "refuse to replace an existing file");
  return {command, [options] { return RunPalette(*options); }};
}

}  // namespace kivtool
