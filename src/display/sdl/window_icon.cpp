#include "display/sdl/window_icon.h"

#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/png_io.h"

extern const unsigned char kData_kivplay_48_png[];
extern const std::size_t kData_kivplay_48_png_size;

namespace kiv {

void SetWindowIcon() {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;
  if (!DecodePngRgba(kData_kivplay_48_png, kData_kivplay_48_png_size, &width, &height, &pixels)) return;
  // The pixels are R, G, B, A bytes in memory; the masks say so for either byte order.
#if SDL_BYTEORDER == SDL_BIG_ENDIAN
  const Uint32 red = 0xff000000, green = 0x00ff0000, blue = 0x0000ff00, alpha = 0x000000ff;
#else
  const Uint32 red = 0x000000ff, green = 0x0000ff00, blue = 0x00ff0000, alpha = 0xff000000;
#endif
  SDL_Surface* icon =
      SDL_CreateRGBSurfaceFrom(pixels.data(), width, height, 32, width * 4, red, green, blue, alpha);
  if (icon == nullptr) return;
  // SDL copies the picture, so the surface and its pixels can go at once.
  SDL_WM_SetIcon(icon, nullptr);
  SDL_FreeSurface(icon);
}

}  // namespace kiv
