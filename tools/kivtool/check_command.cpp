// kivtool check FILE...: each file (a directory gives the animations in it) is read the way the player loads it and
// every chunk's tokens are checked against the buffer it expands into; one
// verdict line per file ("FILE: ok" on stdout, then "FILE: note: ..." when a
// chunk expands past its picture; the fault on stderr), exit the worst.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>

#include "batch.h"
#include "commands.h"
#include "progress.h"
#include "loaded_animation.h"

namespace kivtool {

int RunCheck(const CheckOptions& options) {
  std::vector<std::string> inputs;
  if (!CollectInputsOrReport(options.files, options.recursive, &inputs)) return kExitUsage;
  int worst = kExitOk;
  for (const std::string& path : inputs) {
    LoadedAnimation animation;
    const int status = LoadOrReport(animation, path.c_str());
    if (status < 0) {
      std::printf("%s: ok\n", path.c_str());
      if (!animation.note().empty()) std::printf("%s: note: %s\n", path.c_str(), animation.note().c_str());
    } else {
      worst = std::max(worst, status);
    }
  }
  return worst;
}

Command AddCheckCommand(CLI::App& app) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* command =
      app.add_subcommand("check", "read every chunk and check its tokens; one verdict line per file");
  command->add_option("FILE", options->files, "the animations: files, or directories of them")->required();
  command->add_flag("-r,--recursive", options->recursive, "also the animations in the directories' subdirectories");
  command->footer("Exit status: the worst of the files.\n");
  return {command, [options] { return RunCheck(*options); }};
}

}  // namespace kivtool
