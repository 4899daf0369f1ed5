// The main loop's sleep. Everything that can wake the player reaches this
// process through a file descriptor: X events for SDL's window through SDL's
// connection to the X server, signals through the signal pipe, a second
// start's requests through the instance link's sockets. Sleeping in poll()
// on all of them costs nothing while nothing happens, and returns as soon as
// one has something to read. What poll() cannot see is checked first: events
// that SDL already holds in its queue, messages already posted, and events
// that Xlib read ahead of a reply (presenting a frame waits for one).
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/linux/linux_internal.h"
#include "platform/linux/linux_platform.h"

namespace {

// SDL does some work of its own only when it is pumped (the screen saver
// kept off, deferred focus changes): a long sleep pumps it this often.
constexpr int kSdlChoreMs = 250;

// SDL's connection to the X server, or null (no video, or not X11).
Display* SdlXDisplay() {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0 || SDL_GetVideoSurface() == nullptr) return nullptr;
  SDL_SysWMinfo info;
  std::memset(&info, 0, sizeof(info));
  SDL_VERSION(&info.version);
  if (SDL_GetWMInfo(&info) <= 0 || info.subsystem != SDL_SYSWM_X11) return nullptr;
  return info.info.x11.display;
}

// True when something is waiting where poll() does not look.
bool InputAlreadyWaiting(Display* display) {
  if (platform::detail::MessagesWaiting()) return true;
  if (platform::detail::SdlVideoUp()) {
    SDL_Event event;
    if (SDL_PeepEvents(&event, 1, SDL_PEEKEVENT, SDL_ALLEVENTS) > 0) return true;
  }
  // Also sends the requests that Xlib still holds in its buffer, so that
  // nothing the server should answer waits for our next request.
  return display != nullptr && XEventsQueued(display, QueuedAfterFlush) > 0;
}

// SDL repeats a held key itself, and only when it is pumped.
bool KeyHeldForRepeat() {
  if (!platform::detail::SdlVideoUp()) return false;
  int delay = 0;
  int interval = 0;
  SDL_GetKeyRepeat(&delay, &interval);
  if (delay <= 0) return false;
  int count = 0;
  const Uint8* keys = SDL_GetKeyState(&count);
  if (keys == nullptr) return false;
  for (int key = 0; key < count; ++key) {
    // A lock key reads as held for as long as its lock is on.
    if (key == SDLK_NUMLOCK || key == SDLK_CAPSLOCK || key == SDLK_SCROLLOCK) continue;
    if (keys[key] != 0) return true;
  }
  return false;
}

int MsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

namespace platform {

void WaitForInput(int timeoutMs, int sliceMs) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    Display* display = SdlXDisplay();
    if (InputAlreadyWaiting(display)) return;
    std::vector<pollfd> fds;
    const int signalFd = detail::SignalPipeFd();
    if (signalFd >= 0) fds.push_back(pollfd{signalFd, POLLIN, 0});
    detail::AddInstancePollFds(&fds);
    if (display != nullptr) fds.push_back(pollfd{ConnectionNumber(display), POLLIN, 0});

    // Without an X connection to watch, or while SDL owes a key repeat, SDL
    // can only be polled: sleep one slice, as a loop that polls would.
    const bool polled = (detail::SdlVideoUp() && display == nullptr) || KeyHeldForRepeat();
    int limit = polled ? sliceMs : kSdlChoreMs;
    if (timeoutMs >= 0) limit = std::min(limit, std::max(0, timeoutMs - MsSince(start)));
    // An error (EINTR from a signal) counts as a wake-up: the loop looks again.
    if (poll(fds.data(), fds.size(), limit) != 0 || polled) return;
    if (timeoutMs >= 0 && MsSince(start) >= timeoutMs) return;
    // A long sleep goes on after SDL has done its chores.
    if (detail::SdlVideoUp()) SDL_PumpEvents();
  }
}

}  // namespace platform
