// kivtool: inspect, check, export, render and create KIV animation files.
// One CLI11 parser serves every command: `kivtool COMMAND --help` lists the
// command's options and an unknown option is named in the error. Each
// command registers its own options; main only dispatches.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "commands.h"

namespace kivtool {

int UsageError(const std::string& message) {
  std::fprintf(stderr, "kivtool: %s\nTry 'kivtool --help' for more information.\n", message.c_str());
  return kExitUsage;
}

void AddQuietAndNoClobber(CLI::App* command, bool* noClobber, bool* quiet) {
  command->add_flag("-n,--no-clobber", *noClobber, "refuse to replace existing output files");
  command->add_flag("-q,--quiet", *quiet, "no progress line (shown only when stderr is a terminal)");
}

namespace {

const char kExitStatus[] =
    "Exit status: 0 success, 1 a bad or damaged animation, 2 a usage or I/O error.\n";
const char kOutputNote[] =
    "OUTPUT of export: a PNG name pattern with %d or %0Nd, a .gif, .webp, .mp4, .webm, .mkv or .mov name,\n"
    "or - for standard output (a PNG stream, or raw RGB with --format rgb24; `kivtool info --ffmpeg-input`\n"
    "gives ffmpeg's input arguments for it). %n in OUTPUT stands for each input's name without .kiv.\n\n";

// One option as the synopsis shows it: "-o OUTPUT", "[--json]", "FILE...".
std::string SynopsisWord(const CLI::Option& option) {
  std::string word;
  if (option.get_lnames().empty() && option.get_snames().empty()) {
    word = option.get_name();
    if (option.get_items_expected_max() > 1) word += "...";
  } else {
    word = option.get_snames().empty() ? "--" + option.get_lnames()[0] : "-" + option.get_snames()[0];
    // The name of the value, without the checks CLI11 appends after a colon.
    const std::string value = option.get_type_name().substr(0, option.get_type_name().find(':'));
    if (!value.empty()) word += " " + value;
  }
  return option.get_required() ? word : "[" + word + "]";
}

// "Commands in short": each command's line made from its registered options.
std::string Synopsis(const std::vector<Command>& commands) {
  constexpr std::size_t kWidth = 100;
  std::string text = "Commands in short (kivtool COMMAND --help tells more):\n";
  for (const Command& command : commands) {
    std::string line = "  kivtool " + command.app->get_name();
    const std::string indent(line.size() + 1, ' ');
    for (const CLI::Option* option : command.app->get_options()) {
      if (option->get_name() == "--help") continue;
      const std::string word = SynopsisWord(*option);
      const std::size_t lineStart = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
      line += line.size() - lineStart + 1 + word.size() > kWidth ? "\n" + indent : " ";
      line += word;
    }
    text += line + "\n";
  }
  return text;
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
  const std::vector<Command> commands = {AddInfoCommand(app),   AddCheckCommand(app),   AddExportCommand(app),
                                         AddRenderCommand(app), AddCreateCommand(app),  AddPaletteCommand(app),
                                         AddThumbnailCommand(app)};
  app.footer(Synopsis(commands) + kOutputNote + kExitStatus);
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
    for (const Command& command : commands) {
      if (command.app->parsed()) return command.run();
    }
  } catch (const std::bad_alloc&) {
    // Temporary files are removed as the stack unwinds.
    std::fprintf(stderr, "kivtool: not enough memory\n");
    return kExitUsage;
  }
  return UsageError("no command given");
}
