// The player's entry points for the page. The page writes a file's bytes
// into the module's memory, opens it, and then runs the main loop in passes
// once per animation frame; keystrokes arrive as positions (KeyboardEvent.code).
#include <emscripten.h>

#include "app/main_loop.h"
#include "app/startup.h"
#include "platform/keys.h"
#include "platform/platform.h"
#include "playback/player.h"
#include "shell/app_module.h"
#include "shell/shell_flags.h"
#include "web/web_display.h"
#include "web/web_services.h"

namespace {

using kiv::web::WebDisplay;
using kiv::web::WebServices;

WebDisplay display;
WebServices services(&display);
kiv::AppModule* player = nullptr;
int exitCode = 0;

// The Player that plays, or null.
const kiv::Player* Playing() { return player != nullptr ? services.player() : nullptr; }

// The player's clock when the page drives it (tests): milliseconds set by
// kiv_advance_clock instead of the browser's monotonic clock.
DWORD manualNow = 0;
DWORD ManualNow() { return manualNow; }

// The desktop program exits after a failed start or its teardown; the page
// opens the next file in the same module. A main window that a failed start
// left behind would pass for another instance, and what the teardown left in
// the queue (the WM_QUIT of the window's destruction) would end the next file.
void ClearForNextFile() {
  if (kiv::MainWindow != nullptr) {
    DestroyWindow(kiv::MainWindow);
    kiv::MainWindow = nullptr;
  }
  MSG msg = {};
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  platform::ForgetKeysDown();
}

void Finish(int loopResult) {
  exitCode = kiv::FinishKivPlay(services, player, loopResult);
  player = nullptr;
  ClearForNextFile();
}

}  // namespace

extern "C" {

// Ends the file that is playing, as the player's own close does.
EMSCRIPTEN_KEEPALIVE void kiv_close() {
  if (player == nullptr) return;
  kiv::PlaybackDone = 1;
  int result = 0;
  kiv::StepMainLoop(services, &result);
  Finish(result);
}

// Where the page writes the next file's `size` bytes before kiv_open; 0
// when there is not the memory. The player's frames point into these bytes,
// so the file is held once, for as long as it plays.
EMSCRIPTEN_KEEPALIVE std::uint8_t* kiv_file_buffer(double size) {
  kiv_close();
  return services.PrepareFile(static_cast<std::size_t>(size));
}

// Opens the file written at kiv_file_buffer() under the name given, as the
// command line would give it. 1 when it plays; 0 when the start-up failed
// (its message has gone to the page).
EMSCRIPTEN_KEEPALIVE int kiv_open(const char* path) {
  kiv_close();
  exitCode = 0;
  services.NameFile(path);
  const bool started =
      kiv::StartKivPlay(services, nullptr, nullptr, path, SW_SHOWNORMAL, &player, &exitCode);
  if (!started) {
    services.DropFile();  // a start that ended before the file system held it
    player = nullptr;
    ClearForNextFile();
    return 0;
  }
  return 1;
}

// Runs passes of the main loop until one waits or `budgetMs` have gone by.
// Bit 0 of the result: a file still plays; bit 1: a picture was shown, for
// kiv_take_picture(); bit 2: the budget ran out with work left. When the loop
// ends, the teardown runs and kiv_exit_code() says how it ended.
EMSCRIPTEN_KEEPALIVE int kiv_run(double budgetMs) {
  bool workLeft = false;
  if (player != nullptr) {
    const double start = emscripten_get_now();
    for (;;) {
      int result = 0;
      const kiv::LoopPass pass = kiv::StepMainLoop(services, &result);
      if (pass == kiv::LoopPass::kEnded) {
        Finish(result);
        break;
      }
      // A pass that ended the player (Esc while paused) waits like any
      // other; the next one tears it down, and nothing would run it.
      if (pass == kiv::LoopPass::kIdle && kiv::PlaybackDone != 1) break;
      if (emscripten_get_now() - start >= budgetMs) {
        workLeft = true;
        break;
      }
    }
  }
  // While the file loads the screen is the blank one that the start-up drew:
  // the page shows its progress instead, and converts and draws nothing
  // until the first frame (for a large screen that is a long task saved).
  const bool loading = Playing() != nullptr && Playing()->State == kiv::Player::kLoading;
  const int shown = !loading && display.HasShownPicture() ? 2 : 0;
  return (player != nullptr ? 1 : 0) | shown | (workLeft && player != nullptr ? 4 : 0);
}

// Converts what was shown into kiv_rgba(); 1 when it changed, its changed
// rows from kiv_changed_top() up to kiv_changed_end().
EMSCRIPTEN_KEEPALIVE int kiv_take_picture() { return display.TakeShownPicture() ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE int kiv_changed_top() { return display.ChangedTop(); }
EMSCRIPTEN_KEEPALIVE int kiv_changed_end() { return display.ChangedEnd(); }

// After a kiv_run that ended idle: milliseconds until the player has
// something to show by itself (the next frame), 0 when it has work now
// (loading), -1 when it waits for a key (paused, no file; the page still
// runs a paused player's passes after a key until its picture settles).
EMSCRIPTEN_KEEPALIVE double kiv_wait_ms() {
  const kiv::Player* playing = Playing();
  if (playing == nullptr || playing->State == kiv::Player::kPaused) return -1.0;
  if (playing->State != kiv::Player::kPlaying) return 0.0;
  return playing->MsUntilNextFrame();
}

EMSCRIPTEN_KEEPALIVE int kiv_exit_code() { return exitCode; }
// The Player's state (1 paused, 2 playing, 3 loading) and frame; 0 with no file.
EMSCRIPTEN_KEEPALIVE int kiv_state() {
  return Playing() != nullptr ? Playing()->State : 0;
}
EMSCRIPTEN_KEEPALIVE int kiv_frame() {
  return Playing() != nullptr ? static_cast<int>(Playing()->CurrentFrame) : 0;
}
EMSCRIPTEN_KEEPALIVE const std::uint8_t* kiv_rgba() { return display.Rgba(); }
EMSCRIPTEN_KEEPALIVE int kiv_width() { return display.Width(); }
EMSCRIPTEN_KEEPALIVE int kiv_height() { return display.Height(); }

// A key pressed or released at a position ("KeyL", "ArrowLeft", "Numpad8").
// 1 when the player has a key there (the page then keeps the browser's own
// action for it), 0 otherwise.
EMSCRIPTEN_KEEPALIVE int kiv_key(const char* position, int down, int numLock) {
  platform::KeyCode code{};
  if (player == nullptr || !platform::LookupKeyPosition(position, numLock != 0, &code)) {
    return 0;
  }
  platform::PostKey(code, down == 0);
  return 1;
}

// Puts the player's clock in the page's hands (1) or back on the browser's
// monotonic clock (0); the page's clock starts at `startMs`.
EMSCRIPTEN_KEEPALIVE void kiv_manual_clock(int manual, double startMs) {
  manualNow = static_cast<DWORD>(startMs);
  platform::SetTimeSource(manual != 0 ? &ManualNow : nullptr);
}

EMSCRIPTEN_KEEPALIVE void kiv_advance_clock(double ms) { manualNow += static_cast<DWORD>(ms); }

}  // extern "C"
