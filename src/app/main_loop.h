// The main loop: window messages first, otherwise one Player tick.
#pragma once

#include "app/app_services.h"

namespace kiv {

// One tick of CurrentPlayer, guarded against nesting by its UpdateBusy.
void DispatchTick();

// Runs until PlaybackDone is 1 (result 0) or WM_QUIT arrives (result: its
// wParam).
int RunMainLoop(AppServices& services);

}  // namespace kiv
