// The bridge from SDL's event queue to the message queue: an SDL event filter
// (it runs inside SDL_PumpEvents, before the event is queued) posts each
// keystroke as WM_KEYDOWN/WM_KEYUP and lets the SDL event through.
#include <SDL.h>

#include <cstdlib>

#include "platform/linux/linux_internal.h"
#include "platform/linux/linux_platform.h"

namespace {

// Whether the SDL window had the input focus, for WM_ACTIVATEAPP.
bool hadInputFocus = false;

void PostSdlKeystroke(const SDL_KeyboardEvent& key) {
  platform::KeyCode code{};
  platform::detail::LookupKey(key.keysym.sym, (key.keysym.mod & KMOD_NUM) != 0, &code);
  platform::PostKey(code, key.type == SDL_KEYUP);
}

// The SDL window is the process's visible window: when it gains or loses the
// input focus, the application is activated or deactivated, and every
// top-level window of the thread hears of it.
void PostActivation(const SDL_ActiveEvent& active) {
  if ((active.state & SDL_APPINPUTFOCUS) == 0) return;
  const bool focused = active.gain != 0;
  if (focused == hadInputFocus) return;
  hadInputFocus = focused;
  for (HWND window : platform::detail::OwnTopLevelWindows()) {
    PostMessageA(window, WM_ACTIVATEAPP, focused ? TRUE : FALSE, 0);
  }
}

}  // namespace

namespace platform::detail {

int SdlInputFilter(const SDL_Event* event) {
  if (event == nullptr) return 1;
  if (event->type == SDL_KEYDOWN || event->type == SDL_KEYUP) {
    PostSdlKeystroke(event->key);
  } else if (event->type == SDL_ACTIVEEVENT) {
    PostActivation(event->active);
  }
  return 1;  // the shell still sees every event
}

bool SdlVideoUp() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

void PumpSdl() { SDL_PumpEvents(); }

void ResetSdlInput() {
  platform::ForgetKeysDown();
  hadInputFocus = false;
}

}  // namespace platform::detail

namespace platform {

void AttachSdlInput() {
  detail::ResetSdlInput();
  SDL_SetEventFilter(detail::SdlInputFilter);
}

void DetachSdlInput() {
  if (SDL_GetEventFilter() == detail::SdlInputFilter) SDL_SetEventFilter(nullptr);
}

void PumpEvents() {
  if (detail::SdlVideoUp()) SDL_PumpEvents();
}

bool PollEvent(Event* event) {
  if (event == nullptr || !detail::SdlVideoUp()) return false;
  SDL_Event sdlEvent;
  if (SDL_PollEvent(&sdlEvent) == 0) return false;
  event->type = sdlEvent.type;
  event->gain = 0;
  event->state = 0;
  if (sdlEvent.type == SDL_ACTIVEEVENT) {
    event->gain = sdlEvent.active.gain;
    event->state = sdlEvent.active.state;
  }
  return true;
}

void Delay(std::uint32_t milliseconds) { SDL_Delay(milliseconds); }

bool VideoShowsWindows() {
  if (!detail::SdlVideoUp()) return false;
  // A driver named on purpose (tests run the dummy one) is taken as it is.
  const char* chosen = std::getenv("SDL_VIDEODRIVER");
  if (chosen != nullptr && chosen[0] != '\0') return true;
  const SDL_VideoInfo* info = SDL_GetVideoInfo();
  return info != nullptr && info->wm_available != 0;
}

}  // namespace platform
