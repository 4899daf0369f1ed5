// kivtool: inspect, check, export, render and create KIV animation files.
// One CLI11 parser serves every command: `kivtool COMMAND --help` lists the
// command's options and an unknown option is named in the error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <new>
#include <string>

#include "anim/animation_file.h"
#include "commands.h"

namespace kivtool {

int UsageError(const std::string& message) {
  std::fprintf(stderr, "kivtool: %s\nTry 'kivtool --help' for more information.\n", message.c_str());
  return kExitUsage;
}

namespace {

const char kExitStatus[] =
    "Exit status: 0 success, 1 a bad or damaged animation, 2 a usage or I/O error.\n";
const char kSynopsis[] =
    "Commands in short (kivtool COMMAND --help tells more):\n"
    "  kivtool info FILE [--json [--compact]] [--ffmpeg-input]\n"
    "  kivtool check FILE...\n"
    "  kivtool export FILE -o OUTPUT [--format png|gif|rgb24] [--composite] [--background]\n"
    "                 [--frames A-B] [--start-number N] [--salvage] [-n] [-q]\n"
    "  kivtool render FILE -o PATTERN [--frames A-B] [--paused] [--no-layer] [--start-number N] [--salvage] [-n] [-q]\n"
    "  kivtool create -o OUT.kiv [--fps F] [--version V] [--first N] [--loop-start N] [--loop-end N]\n"
    "                 [--dither none|ordered|diffusion] [--keep-indices] [--background BG.png] [-n] [-q]\n"
    "                 INPUT... (PNG, animated GIF, or - for a PNG stream)\n"
    "  kivtool palette -o FILE.png|FILE.gpl [-n]\n"
    "  kivtool thumbnail [-s SIZE] INPUT OUTPUT.png\n"
    "OUTPUT of export: a PNG name pattern with %d or %0Nd, a .gif name, or - for standard output\n"
    "(a PNG stream, or raw RGB with --format rgb24; `kivtool info --ffmpeg-input` gives ffmpeg's\n"
    "input arguments for it).\n\n";

void AddQuietAndNoClobber(CLI::App* command, bool* noClobber, bool* quiet) {
  command->add_flag("-n,--no-clobber", *noClobber, "refuse to replace existing output files");
  command->add_flag("-q,--quiet", *quiet, "no progress line (shown only when stderr is a terminal)");
}

}  // namespace
}  // namespace kivtool

int main(int argc, char** argv) {
  using namespace kivtool;
  CLI::App app{"kivtool: inspect, check, export, render and create KIV animation files.", "kivtool"};
  // Commands inherit the footer that stands when they are added: each gets
  // the exit statuses, only the top-level help the synopsis of them all.
  app.footer(kExitStatus);
  app.set_version_flag("--version", std::string("kivtool ") + KIV_VERSION);
  app.require_subcommand(1);

  InfoOptions info;
  CLI::App* infoCommand = app.add_subcommand("info", "print the header and the frame statistics");
  infoCommand->add_option("FILE", info.file, "the animation")->required();
  CLI::Option* json = infoCommand->add_flag("--json", info.json, "JSON, pretty-printed");
  infoCommand->add_flag("--compact", info.compact, "JSON on one line")->needs(json);
  infoCommand->add_flag("--ffmpeg-input", info.ffmpegInput,
                        "print the ffmpeg input arguments for `export --format rgb24 -o -`");
  infoCommand->footer("A damaged file: what could be read and where the damage starts, exit 1.\n");

  CheckOptions check;
  CLI::App* checkCommand =
      app.add_subcommand("check", "read every chunk and check its tokens; one verdict line per file");
  checkCommand->add_option("FILE", check.files, "the animations")->required();
  checkCommand->footer("Exit status: the worst of the files.\n");

  ExportOptions exportOptions;
  CLI::App* exportCommand = app.add_subcommand(
      "export", "write the frames as PNG pictures, an animated GIF or raw RGB for ffmpeg");
  exportCommand->add_option("FILE", exportOptions.file, "the animation")->required();
  exportCommand
      ->add_option("-o,--output", exportOptions.output,
                   "a PNG name pattern with %d or %0Nd, a .gif name, or - for standard output")
      ->required();
  exportCommand->add_option("--format", exportOptions.format, "png, gif or rgb24 (default: from OUTPUT; - gives PNGs)")
      ->check(CLI::IsMember({"png", "gif", "rgb24"}));
  exportCommand->add_flag("--composite", exportOptions.composite,
                          "each frame over the background through index 127, as the player shows it "
                          "(without: 127 is transparent)");
  exportCommand->add_flag("--background", exportOptions.background,
                          "also write the background picture, \"background\" in place of the number");
  exportCommand->add_option("--frames", exportOptions.frames, "only frames A to B (frame numbers)");
  exportCommand->add_option("--start-number", exportOptions.startNumber,
                            "number of the first file of a PNG sequence (default 0)");
  exportCommand->add_flag("--salvage", exportOptions.salvage,
                          "write every frame that decodes, skip damaged ones (exit 1 if any)");
  AddQuietAndNoClobber(exportCommand, &exportOptions.noClobber, &exportOptions.quiet);

  RenderOptions render;
  CLI::App* renderCommand = app.add_subcommand(
      "render", "write the screens the player shows (frame, background, text) as palette PNGs");
  renderCommand->add_option("FILE", render.file, "the animation")->required();
  renderCommand->add_option("-o,--output", render.output, "a PNG name pattern with %d or %0Nd")->required();
  renderCommand->add_option("--frames", render.frames, "only frames A to B (frame numbers)");
  renderCommand->add_flag("--paused", render.paused, "the screens of the paused player");
  renderCommand->add_flag("--no-layer", render.noLayer, "the screens with the background layer off (the L key)");
  CLI::Option* renderStart = renderCommand->add_option(
      "--start-number", render.startNumber, "number of the first file (default: the frame number)");
  renderCommand->add_flag("--salvage", render.salvage,
                          "render every frame that decodes, skip damaged ones (exit 1 if any)");
  AddQuietAndNoClobber(renderCommand, &render.noClobber, &render.quiet);

  CreateOptions create;
  CLI::App* createCommand = app.add_subcommand(
      "create", "build an animation file from PNG pictures, animated GIFs or a PNG stream");
  createCommand->add_option("-o,--output", create.output, "the animation to write")->required();
  CLI::Option* fps = createCommand->add_option("--fps", create.fps,
                                               "frame rate, a finite number 0 or more (default: from GIF delays)")
                         ->check(CLI::NonNegativeNumber);
  createCommand->add_option("--version", create.version, "file version (default 949; 909 to 939 need 720x576)")
      ->check(CLI::IsMember({909, 919, 929, 939, 949}));
  createCommand->add_option("--first", create.first, "number of the first frame")
      ->check(CLI::Range(0u, kiv::kLastFrameLimit));
  CLI::Option* loopStart = createCommand->add_option("--loop-start", create.loopStart,
                                                     "loop start frame number in the header (default: the first frame)")
                               ->check(CLI::Range(0u, kiv::kLastFrameLimit));
  CLI::Option* loopEnd = createCommand->add_option("--loop-end", create.loopEnd,
                                                   "loop end frame number in the header (default: the last frame)")
                             ->check(CLI::Range(0u, kiv::kLastFrameLimit));
  createCommand->add_option("--dither", create.dither,
                            "none, ordered or diffusion (Floyd-Steinberg) for colours not in the palette "
                            "(default none)")
      ->check(CLI::IsMember({"none", "ordered", "diffusion"}));
  createCommand->add_flag("--keep-indices", create.keepIndices,
                          "palette PNGs give their index numbers as they are, not their colours");
  createCommand->add_option("--background", create.background, "the background picture (PNG)");
  createCommand->add_option("INPUT", create.frames,
                            "the frames: PNG pictures, animated GIFs, or - for a PNG stream on standard input; "
                            "read as colours and shown through the nearest screen-palette entries, alpha below "
                            "half as index 127")
      ->required();
  AddQuietAndNoClobber(createCommand, &create.noClobber, &create.quiet);

  PaletteOptions palette;
  CLI::App* paletteCommand = app.add_subcommand(
      "palette", "write the screen palette: a 16x16 PNG swatch (index 127 transparent) or a GIMP .gpl");
  paletteCommand->add_option("-o,--output", palette.output, "a .png or .gpl file, or - for a PNG on standard output")
      ->required();
  paletteCommand->add_flag("-n,--no-clobber", palette.noClobber, "refuse to replace an existing file");

  ThumbnailOptions thumbnail;
  CLI::App* thumbnailCommand = app.add_subcommand(
      "thumbnail", "a PNG of the first frame over the background, scaled to fit SIZE x SIZE");
  thumbnailCommand->add_option("-s,--size", thumbnail.size, "the largest side in pixels (default 256)")
      ->check(CLI::Range(1u, 4096u));
  thumbnailCommand->add_option("INPUT", thumbnail.input, "the animation")->required();
  thumbnailCommand->add_option("OUTPUT", thumbnail.output, "the PNG to write")->required();

  app.footer(std::string(kSynopsis) + kExitStatus);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string where;
    for (const CLI::App* command : app.get_subcommands()) where = command->get_name() + ": ";
    return UsageError(where + e.what());
  }

  try {
    if (infoCommand->parsed()) return RunInfo(info);
    if (checkCommand->parsed()) return RunCheck(check);
    if (exportCommand->parsed()) return RunExport(exportOptions);
    if (renderCommand->parsed()) {
      render.haveStartNumber = renderStart->count() > 0;
      return RunRender(render);
    }
    if (createCommand->parsed()) {
      create.haveFps = fps->count() > 0;
      create.haveLoopStart = loopStart->count() > 0;
      create.haveLoopEnd = loopEnd->count() > 0;
      return RunCreate(create);
    }
    if (paletteCommand->parsed()) return RunPalette(palette);
    if (thumbnailCommand->parsed()) return RunThumbnail(thumbnail);
  } catch (const std::bad_alloc&) {
    // Temporary files are removed as the stack unwinds.
    std::fprintf(stderr, "kivtool: not enough memory\n");
    return kExitUsage;
  }
  return UsageError("no command given");
}
