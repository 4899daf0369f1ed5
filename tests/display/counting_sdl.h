// Counts the display's SDL calls and, for surfaces the test made itself,
// stands in for SDL so that a surface can require locking.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <vector>

#include "display/sdl/sdl_calls.h"

namespace kiv::test {

struct SdlCallLog {
  int locks = 0;
  int unlocks = 0;
  int flips = 0;
  int flipsWhileLocked = 0;
  int palettes = 0;
  int paletteFirst = -1;
  int paletteCount = -1;
  std::vector<SDL_Color> paletteColours;
  int cursorsCreated = 0;
  int cursorsSet = 0;
  SDL_Cursor* lastCursorSet = nullptr;
  int shows = 0;
  int lastShow = -2;
  int lockResult = 0;                  // what a stand-in lock returns
  SDL_Surface* modeResult = nullptr;   // what a stand-in SetVideoMode returns
  int lockDepth = 0;
};

SdlCallLog& CallLog();

// An 8-bit surface owned by the test; its flags make it need locking.
struct FakeSurface {
  FakeSurface(int width, int height, int pitch, Uint32 flags);
  SDL_Surface surface{};
  std::vector<std::uint8_t> pixels;
};

// Installs counting wrappers. forwardToSdl: the real SDL does the work
// (surfaces from SDL); otherwise nothing reaches SDL (test-made surfaces,
// fake cursor handles).
void InstallCountingCalls(bool forwardToSdl);
// Makes SetVideoMode hand out CallLog().modeResult instead of asking SDL.
void InstallFakeVideoMode();
void RestoreSdlCalls();

}  // namespace kiv::test
