// kivtool: inspect, check, export and create KIV animation files.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace kivtool {
namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
};

const Command kCommands[] = {
    {"info", RunInfo, "info FILE [--json]          print the header and the frame statistics"},
    {"check", RunCheck, "check FILE                  read every chunk and check its tokens"},
    {"export", RunExport,
     "export FILE -o PATTERN [--background]\n"
     "                              write frame N as PATTERN with %d or %0Nd replaced by N\n"
     "                              (8-bit palette PNG, screen palette); --background also\n"
     "                              writes the background, the number replaced by \"background\""},
    {"create", RunCreate,
     "create -o OUT --fps F [--version V] [--first N] [--background PNG] FRAME.png...\n"
     "                              build a file (version 949 unless given; 909 to 939 need\n"
     "                              720x576 frames); palette PNGs keep their indices, others\n"
     "                              take the nearest screen-palette colour"},
    {"render", RunRender, "render FILE -o PATTERN [--frames A-B] [--paused]\n                              write the screens the player shows (frame, background, text)\n                              as palette PNGs, computed offscreen with a simulated clock"},
};

void PrintHelp() {
  std::printf("usage: kivtool COMMAND [ARGUMENTS]\n\ncommands:\n");
  for (const Command& command : kCommands) std::printf("  %s\n", command.usage);
  std::printf("\n  --help                      show this help\n"
              "  --version                   show the version\n\n"
              "exit status: 0 success, 1 the file is corrupt or refused, 2 usage or I/O error\n");
}

}  // namespace

int UsageError(const char* message) {
  std::fprintf(stderr, "kivtool: %s\nTry 'kivtool --help' for more information.\n", message);
  return kExitUsage;
}

}  // namespace kivtool

int main(int argc, char** argv) {
  using namespace kivtool;
  if (argc < 2) return UsageError("no command given");
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 || std::strcmp(name, "help") == 0) {
    PrintHelp();
    return kExitOk;
  }
  if (std::strcmp(name, "--version") == 0) {
    std::printf("kivtool %s\n", KIV_VERSION);
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(name, command.name) == 0) return command.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "kivtool: unknown command '%s'\nTry 'kivtool --help' for more information.\n", name);
  return kExitUsage;
}
