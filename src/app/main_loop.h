// The main loop: window messages first, otherwise one Player tick.
#pragma once

#include "app/app_services.h"

namespace kiv {

// One tick of CurrentPlayer, guarded against nesting by its UpdateBusy.
void DispatchTick();

enum class LoopPass {
  kBusy,   // handled a message or ran a tick; more may be waiting
  kIdle,   // waited (inactive, or the Player had nothing to do this tick)
  kEnded,  // the loop is over; the result is set
};

// One pass of the loop: one waiting message, or one tick followed by the
// waits and the SDL events. After kEnded, *result holds the loop's result:
// 0 when PlaybackDone is 1, the wParam of WM_QUIT otherwise. A host that
// cannot block (the browser) runs passes until one is idle and gives its
// Delay nothing to do.
LoopPass StepMainLoop(AppServices& services, int* result);

// Runs until PlaybackDone is 1 (result 0) or WM_QUIT arrives (result: its
// wParam).
int RunMainLoop(AppServices& services);

}  // namespace kiv
