// The floor for the player's CPU use: a bare SDL 1.2 program that opens the
// same 8-bit window as the player (800 x 600 for 720 x 576 frames) and
// presents a changing picture 25 times a second, doing nothing else.
//   sdl_floor [WIDTH HEIGHT FPS]   (default 800 600 25); ends on SIGTERM,
//   SIGINT or the window's close button.
#include <SDL.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

volatile std::sig_atomic_t stop = 0;

void OnSignal(int) { stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  const int width = argc > 3 ? std::atoi(argv[1]) : 800;
  const int height = argc > 3 ? std::atoi(argv[2]) : 600;
  const int fps = argc > 3 ? std::atoi(argv[3]) : 25;
  if (width <= 0 || height <= 0 || fps <= 0) {
    std::fprintf(stderr, "usage: sdl_floor [WIDTH HEIGHT FPS]\n");
    return 2;
  }
  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    std::fprintf(stderr, "sdl_floor: %s\n", SDL_GetError());
    return 1;
  }
  SDL_Surface* screen = SDL_SetVideoMode(width, height, 8, SDL_HWPALETTE);
  if (screen == nullptr) {
    std::fprintf(stderr, "sdl_floor: %s\n", SDL_GetError());
    SDL_Quit();
    return 1;
  }
  SDL_WM_SetCaption("sdl_floor", nullptr);
  SDL_Color grey[256];
  for (int i = 0; i < 256; ++i) grey[i] = SDL_Color{Uint8(i), Uint8(i), Uint8(i), 0};
  SDL_SetPalette(screen, SDL_LOGPAL | SDL_PHYSPAL, grey, 0, 256);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);

  // Frames are due on a fixed schedule; the wait in between sleeps.
  const Uint32 start = SDL_GetTicks();
  for (Uint32 frame = 0; stop == 0; ++frame) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      if (event.type == SDL_QUIT) stop = 1;
    }
    if (SDL_MUSTLOCK(screen)) SDL_LockSurface(screen);
    // One value for the whole screen, a different one each frame, so that
    // every present shows a new picture.
    std::memset(screen->pixels, static_cast<int>(frame & 0xFF), static_cast<std::size_t>(screen->pitch) * height);
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
    SDL_Flip(screen);
    const Uint32 due = start + (frame + 1) * 1000 / static_cast<Uint32>(fps);
    const Uint32 now = SDL_GetTicks();
    if (due > now) SDL_Delay(due - now);
  }
  SDL_Quit();
  return 0;
}
