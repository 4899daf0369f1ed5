#include "display/sdl/sdl_display.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "display/sdl/cursors.h"
#include "display/palette_range.h"
#include "display/sdl/sdl_calls.h"
#include "display/sdl/window_icon.h"

namespace kiv {
namespace {

constexpr int kKeyRepeatDelay = 250;
constexpr int kKeyRepeatInterval = 30;
constexpr int kScreenBits = 8;
constexpr std::size_t kCaptionSize = 256;

// Module-wide: the pixels of the surface while the display holds it for
// drawing. Every client's Lock within one frame shares this one lock.
std::uint8_t* cachedPixels = nullptr;
char caption[kCaptionSize] = {};

}  // namespace

SdlDisplay::SdlDisplay() = default;

// SDL has already ended (Shutdown) when the display goes away.
SdlDisplay::~SdlDisplay() = default;

bool SdlDisplay::MustLock() const {
  return screen_->offset != 0 ||
         (screen_->flags & (SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_RLEACCEL)) != 0;
}

void SdlDisplay::Release() {
  if (cachedPixels == nullptr) return;
  if (screen_ != nullptr && MustLock()) SdlCalls().unlockSurface(screen_);
  cachedPixels = nullptr;
}

bool SdlDisplay::Init() {
  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
    return false;
  }
  SetWindowIcon();
  SDL_EnableKeyRepeat(kKeyRepeatDelay, kKeyRepeatInterval);
  BuildCursorSet();
  SelectCursor(kArrowCursor, false);
  return true;
}

bool SdlDisplay::SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) {
  if ((bitsPerPixel & 0xff) != kScreenBits) {
    std::fputs(" *** Sorry, only 8 bit displays are supported!\n", stderr);
    return false;
  }
  // A held surface would be left locked and its pointer dangling once SDL
  // replaces the surface.
  Release();
  width_ = width;
  height_ = height;
  pitch_ = width;
  bitsPerPixel_ = kScreenBits;
  screen_ = SdlCalls().setVideoMode(width, height, kScreenBits, SDL_HWPALETTE);
  presentNeeded_ = true;
  if (screen_ == nullptr) {
    std::fprintf(stderr, "Couldn't set %ix%ix%i video mode: %s\n", width, height, kScreenBits,
                 SDL_GetError());
    return false;
  }
  const SDL_VideoInfo* info = SDL_GetVideoInfo();
  if (info != nullptr) {
    std::printf("hw_available = %i\n", static_cast<int>(info->hw_available));
    std::printf("wm_available = %i\n", static_cast<int>(info->wm_available));
    std::printf("blit_hw = %i\n", static_cast<int>(info->blit_hw));
    std::printf("blit_hw_CC = %i\n", static_cast<int>(info->blit_hw_CC));
    std::printf("blit_hw_A = %i\n", static_cast<int>(info->blit_hw_A));
    std::printf("blit_sw = %i\n", static_cast<int>(info->blit_sw));
    std::printf("blit_sw_CC = %i\n", static_cast<int>(info->blit_sw_CC));
    std::printf("blit_sw_A = %i\n", static_cast<int>(info->blit_sw_A));
    std::printf("blit_fill = %i\n", static_cast<int>(info->blit_fill));
    std::printf("video_mem = %i\n", static_cast<int>(info->video_mem));
    std::fflush(stdout);
  }
  pitch_ = screen_->pitch;
  return true;
}

std::uint8_t* SdlDisplay::Lock() {
  if (cachedPixels != nullptr) return cachedPixels;
  if (screen_ == nullptr) return nullptr;
  const bool mustLock = MustLock();
  if (mustLock && SdlCalls().lockSurface(screen_) < 0) {
    std::fprintf(stderr, "Can't lock screen: %s\n", SDL_GetError());
    return nullptr;
  }
  cachedPixels = static_cast<std::uint8_t*>(screen_->pixels);
  // A surface without pixels is not held: undo the lock so that it stays balanced.
  if (cachedPixels == nullptr && mustLock) SdlCalls().unlockSurface(screen_);
  return cachedPixels;
}

// The surface stays held until the next release (Flip, palette calls, Shutdown).
bool SdlDisplay::Unlock() { return true; }

bool SdlDisplay::Flip() {
  Release();
  if (screen_ != nullptr && ScreenChanged()) SdlCalls().flip(screen_);
  return true;
}

bool SdlDisplay::ScreenChanged() {
  // A surface that must be locked cannot be read between frames: always
  // present it.
  if (MustLock() || screen_->pixels == nullptr) return true;
  const std::size_t bytes =
      static_cast<std::size_t>(screen_->pitch) * static_cast<std::size_t>(screen_->h > 0 ? screen_->h : 0);
  const auto* pixels = static_cast<const std::uint8_t*>(screen_->pixels);
  const bool same = !presentNeeded_ && presentedPixels_.size() == bytes &&
                    std::memcmp(presentedPixels_.data(), pixels, bytes) == 0 &&
                    std::memcmp(presentedPalette_, shadowPalette_, sizeof presentedPalette_) == 0;
  if (same) return false;
  presentedPixels_.assign(pixels, pixels + bytes);
  std::memcpy(presentedPalette_, shadowPalette_, sizeof presentedPalette_);
  presentNeeded_ = false;
  return true;
}

bool SdlDisplay::Shutdown() {
  Release();
  SDL_Quit();
  return true;
}

bool SdlDisplay::SetPalette(const std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) {
  Release();
  if (rgb == nullptr || !ClampPaletteRange(first, end)) return true;
  SDL_Color colours[kPaletteEntries];
  for (std::uint32_t i = first; i < end; ++i) {
    const std::uint8_t* triple = rgb + 3 * (i - first);
    std::memcpy(shadowPalette_ + 3 * i, triple, 3);
    colours[i - first] = SDL_Color{triple[0], triple[1], triple[2], 0};
  }
  if (screen_ != nullptr) {
    SdlCalls().setPalette(screen_, SDL_LOGPAL | SDL_PHYSPAL, colours, static_cast<int>(first),
                          static_cast<int>(end - first));
  }
  return true;
}

bool SdlDisplay::GetPalette(std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) {
  Release();
  if (rgb == nullptr || !ClampPaletteRange(first, end)) return true;
  std::memcpy(rgb, shadowPalette_ + 3 * first, 3 * (end - first));
  return true;
}

std::int32_t SdlDisplay::Width() { return width_; }
std::int32_t SdlDisplay::Height() { return height_; }
std::int32_t SdlDisplay::Pitch() { return pitch_; }

void SdlDisplay::SetCaption(const char* text) {
  FormatCaption(caption, sizeof caption, text);
  SDL_WM_SetCaption(caption, nullptr);
}

const char* SdlDisplay::Caption() { return caption; }

SdlDisplay& TheSdlDisplay() {
  static SdlDisplay display;
  return display;
}

}  // namespace kiv
