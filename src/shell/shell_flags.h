// The application flags shared by the start-up sequence, the main window and
// the Player.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace kiv {

class AppModule;

constexpr int kAnimationPathSize = 512;

extern char AnimationPath[kAnimationPathSize];
extern HWND MainWindow;
extern std::int32_t AppActive;
extern std::uint8_t TickIdle;
extern std::int32_t PlaybackDone;
extern std::uint8_t QuitRequested;
extern AppModule* CurrentPlayer;

// Puts every flag back to its value at program start (tests only).
void ResetShellFlags();

}  // namespace kiv
