// The SDL calls through which the display and the cursors reach the screen.
// They go through this table so that tests can count them or hand out a
// surface of their own; the program never changes it.
#pragma once

#include <SDL.h>

namespace kiv {

struct DisplaySdlCalls {
  SDL_Surface* (*setVideoMode)(int width, int height, int bitsPerPixel, Uint32 flags);
  int (*lockSurface)(SDL_Surface* surface);
  void (*unlockSurface)(SDL_Surface* surface);
  int (*flip)(SDL_Surface* surface);
  int (*setPalette)(SDL_Surface* surface, int flags, SDL_Color* colours, int first, int count);
  SDL_Cursor* (*createCursor)(Uint8* data, Uint8* mask, int width, int height, int hotX, int hotY);
  void (*setCursor)(SDL_Cursor* cursor);
  int (*showCursor)(int toggle);
};

// The table in use; starts out with the real SDL functions.
DisplaySdlCalls& SdlCalls();
// The real SDL functions (for restoring the table).
DisplaySdlCalls RealSdlCalls();

}  // namespace kiv
