#include "app/linux/sdl_events.h"

#include <cstdio>

#include "display/sdl/cursors.h"
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
      std::printf("unhandled event %i\n", static_cast<int>(event.type));
      break;
  }
}

}  // namespace kiv
