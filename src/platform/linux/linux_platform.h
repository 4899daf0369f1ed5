// The Linux backend of the platform layer: the bridge to SDL's event queue,
// process signals, the X display, and the desktop that kivplay installs.
#pragma once

#include <cstdint>

#include "platform/desktop.h"
#include "platform/platform.h"

namespace platform {

// Windows of other processes through the instance link, windows of the X
// display, and signals, SDL input and requests served before each message
// lookup. kivplay installs it with SetDesktop at start.
Desktop& LinuxDesktop();

// SDL 1.2 event fields that the shell reads (type byte, and gain/state of an
// activation event). Types keep SDL 1.2's numbers (1 active, 2 key down,
// 3 key up, 4 mouse motion, 12 quit, ...).
struct Event {
  std::uint8_t type;
  std::uint8_t gain;
  std::uint8_t state;
};

// Connects the keyboard to the message queue once SDL video is up: installs
// the SDL event filter that turns key events into WM_KEYDOWN/WM_KEYUP (to the
// focus window, else the first window, else the thread) and lets every event
// through. When the SDL window gains or loses the input focus, each top-level
// window also gets WM_ACTIVATEAPP (TRUE or FALSE). Call after SDL_Init, which
// resets the filter. PeekMessageA/GetMessageA pump SDL while video is up.
void AttachSdlInput();
// Removes the filter; call before SDL_Quit.
void DetachSdlInput();

// SDL_PumpEvents, SDL_PollEvent and SDL_Delay for code outside src/platform.
void PumpEvents();
bool PollEvent(Event* event);
void Delay(std::uint32_t milliseconds);

// The main loop's sleep when it has nothing to do: returns once an X event
// for SDL's window, a signal, a request from another process or a posted
// message may be waiting, or after timeoutMs (negative: no limit). Returns at
// once when one already waits. Where SDL can only be polled (no X connection,
// or a key held that SDL repeats when pumped) it returns after sliceMs.
void WaitForInput(int timeoutMs, int sliceMs);

// Whether SDL video, once up, can show a window. Without a reachable display
// SDL falls back to a driver that shows nothing; only a driver named in
// SDL_VIDEODRIVER is accepted without a window manager interface.
bool VideoShowsWindows();

// SIGINT and SIGTERM post WM_CLOSE to this window, through the message
// functions; null gives the signals back their usual effect.
void SetSignalWindow(HWND window);

// From now on, losing the connection to the X display ends the process at
// once with status 255 and "Fatal error: lost the connection to the X display
// NAME" on stderr. Call after SDL has opened its display (and again after
// each video mode), since SDL may set a handler of its own.
void EndOnDisplayLoss();

}  // namespace platform
