#include "display/counting_sdl.h"

namespace kiv::test {
namespace {

bool forward = false;
// Distinct non-null stand-ins for cursor handles; never dereferenced.
alignas(SDL_Cursor) unsigned char fakeCursors[64][sizeof(SDL_Cursor)];

int CountLock(SDL_Surface* surface) {
  ++CallLog().locks;
  if (forward) return SDL_LockSurface(surface);
  if (CallLog().lockResult >= 0) ++CallLog().lockDepth;
  return CallLog().lockResult;
}

void CountUnlock(SDL_Surface* surface) {
  ++CallLog().unlocks;
  --CallLog().lockDepth;
  if (forward) SDL_UnlockSurface(surface);
}

int CountFlip(SDL_Surface* surface) {
  ++CallLog().flips;
  if (CallLog().lockDepth > 0) ++CallLog().flipsWhileLocked;
  return forward ? SDL_Flip(surface) : 0;
}

int CountPalette(SDL_Surface* surface, int flags, SDL_Color* colours, int first, int count) {
  SdlCallLog& log = CallLog();
  ++log.palettes;
  log.paletteFirst = first;
  log.paletteCount = count;
  log.paletteColours.assign(colours, colours + count);
  return forward ? SDL_SetPalette(surface, flags, colours, first, count) : 1;
}

SDL_Cursor* CountCreateCursor(Uint8* data, Uint8* mask, int w, int h, int x, int y) {
  const int n = CallLog().cursorsCreated++;
  if (forward) return SDL_CreateCursor(data, mask, w, h, x, y);
  return reinterpret_cast<SDL_Cursor*>(fakeCursors[n % 64]);
}

void CountSetCursor(SDL_Cursor* cursor) {
  ++CallLog().cursorsSet;
  CallLog().lastCursorSet = cursor;
  if (forward) SDL_SetCursor(cursor);
}

int CountShowCursor(int toggle) {
  ++CallLog().shows;
  CallLog().lastShow = toggle;
  return forward ? SDL_ShowCursor(toggle) : 1;
}

SDL_Surface* FakeVideoMode(int, int, int, Uint32) { return CallLog().modeResult; }

}  // namespace

SdlCallLog& CallLog() {
  static SdlCallLog log;
  return log;
}

FakeSurface::FakeSurface(int width, int height, int pitch, Uint32 flags)
    : pixels(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height)) {
  surface.flags = flags;
  surface.w = width;
  surface.h = height;
  surface.pitch = static_cast<Uint16>(pitch);
  surface.pixels = pixels.data();
}

void InstallCountingCalls(bool forwardToSdl) {
  forward = forwardToSdl;
  CallLog() = SdlCallLog{};
  DisplaySdlCalls& calls = SdlCalls();
  calls = RealSdlCalls();
  calls.lockSurface = CountLock;
  calls.unlockSurface = CountUnlock;
  calls.flip = CountFlip;
  calls.setPalette = CountPalette;
  calls.createCursor = CountCreateCursor;
  calls.setCursor = CountSetCursor;
  calls.showCursor = CountShowCursor;
}

void InstallFakeVideoMode() { SdlCalls().setVideoMode = FakeVideoMode; }

void RestoreSdlCalls() { SdlCalls() = RealSdlCalls(); }

}  // namespace kiv::test
