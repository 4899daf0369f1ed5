#include "app/main_loop.h"

#include "shell/app_module.h"
#include "shell/key_state.h"
#include "shell/shell_flags.h"

namespace kiv {

namespace {
// The waits of an idle pass, as slices for a host that can only look again;
// the desktop sleeps until an input or the next frame instead (WaitIdle).
constexpr std::uint32_t kInactiveDelayMs = 20;
constexpr std::uint32_t kIdleDelayMs = 5;
}  // namespace

void DispatchTick() {
  AppModule* player = CurrentPlayer;
  if (player == nullptr || player->UpdateBusy != 0) {
    return;
  }
  player->UpdateBusy = 1;
  if (player->Update() == 0) {
    // UpdateBusy stays set: a finished Player is never updated again.
    PlaybackDone = 1;
    return;
  }
  player->UpdateBusy = 0;
  // This tick has seen the keys: releases held back for it apply now.
  KeyState::TickDone();
}

LoopPass StepMainLoop(AppServices& services, int* result) {
  if (PlaybackDone == 1) {
    *result = 0;
    return LoopPass::kEnded;
  }
  MSG msg = {};
  // Peeking first lets the keyboard hook see the keystroke as HC_NOREMOVE;
  // it counts it when GetMessageA retrieves it.
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    if (GetMessageA(&msg, nullptr, 0, 0) == 0) {
      *result = static_cast<int>(msg.wParam);
      return LoopPass::kEnded;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return LoopPass::kBusy;
  }
  bool waited = false;
  if (AppActive != 0) {
    DispatchTick();
  } else {
    services.WaitIdle(kInactiveDelayMs);
    waited = true;
  }
  if (TickIdle != 0) {
    TickIdle = 0;
    services.WaitIdle(kIdleDelayMs);
    waited = true;
  }
  services.PumpSdlEvents();
  return waited ? LoopPass::kIdle : LoopPass::kBusy;
}

int RunMainLoop(AppServices& services) {
  int result = 0;
  while (StepMainLoop(services, &result) != LoopPass::kEnded) {
  }
  return result;
}

}  // namespace kiv
