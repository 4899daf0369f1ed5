#include "display/sdl/sdl_calls.h"

namespace kiv {

DisplaySdlCalls RealSdlCalls() {
  return DisplaySdlCalls{SDL_SetVideoMode, SDL_LockSurface, SDL_UnlockSurface, SDL_Flip,
                         SDL_SetPalette,   SDL_CreateCursor, SDL_SetCursor,    SDL_ShowCursor};
}

DisplaySdlCalls& SdlCalls() {
  static DisplaySdlCalls calls = RealSdlCalls();
  return calls;
}

}  // namespace kiv
