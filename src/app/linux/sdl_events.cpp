#include "app/linux/sdl_events.h"

#include <cstdio>

#include "display/sdl/cursors.h"
#include "display/sdl/sdl_display.h"
#include "playback/frame_clock.h"
#include "shell/shell_flags.h"

namespace kiv {

void PumpSdlEvents() {
  platform::PumpEvents();
  platform::Event event;
  while (platform::PollEvent(&event)) {
    HandleSdlEvent(event);
  }
}

void HandleSdlEvent(const platform::Event& event) {
  switch (event.type) {
    case kEventActive:
      // The next SelectCursor shows the cursor and applies its choice again.
      ForgetCurrentCursor();
      if (event.gain != 0) {
        // Shown again (restored, raised): its content may be gone.
        TheSdlDisplay().RequestPresent();
        if ((event.state & kAppActiveBit) != 0) {
          AppActive = 1;
        }
        TheFrameClock().ElapsedTicks = 0;
      } else if ((event.state & kAppActiveBit) != 0) {
        // Minimised: the ticks stop until the window is restored. A loss of
        // mouse or input focus alone keeps playback running.
        AppActive = 0;
      }
      break;
    case kEventQuit:
      QuitRequested = 1;
      break;
    default:
      // The window was uncovered: present the screen again on the next tick.
      if (event.type == kEventExpose) TheSdlDisplay().RequestPresent();
      std::printf("unhandled event %i\n", static_cast<int>(event.type));
      break;
  }
}

}  // namespace kiv
