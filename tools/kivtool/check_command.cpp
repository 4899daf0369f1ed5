// kivtool check FILE: the whole file is read the way the player loads it and
// every chunk's tokens are checked against its picture.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "loaded_animation.h"

namespace kivtool {

int RunCheck(int argc, char** argv) {
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && argv[i][1] != '\0') return UsageError("check: unknown option");
    if (path != nullptr) return UsageError("check: one FILE only");
    path = argv[i];
  }
  if (path == nullptr) return UsageError("check: no FILE given");
  LoadedAnimation animation;
  if (const int status = LoadOrReport(animation, path); status >= 0) return status;
  std::printf("%s: ok\n", path);
  return kExitOk;
}

}  // namespace kivtool
