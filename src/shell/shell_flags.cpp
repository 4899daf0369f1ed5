#include "shell/shell_flags.h"

#include <cstring>

namespace kiv {

char AnimationPath[kAnimationPathSize] = {};
HWND MainWindow = nullptr;
std::int32_t AppActive = 1;
std::uint8_t TickIdle = 0;
std::int32_t PlaybackDone = 0;
std::uint8_t QuitRequested = 0;
AppModule* CurrentPlayer = nullptr;

void ResetShellFlags() {
  std::memset(AnimationPath, 0, sizeof(AnimationPath));
  MainWindow = nullptr;
  AppActive = 1;
  TickIdle = 0;
  PlaybackDone = 0;
  QuitRequested = 0;
  CurrentPlayer = nullptr;
}

}  // namespace kiv
