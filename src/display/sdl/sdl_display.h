// The program's display in an SDL 1.2 window.
#pragma once

#include "display/display.h"

struct SDL_Surface;

namespace kiv {

// The program's display over SDL 1.2.
class SdlDisplay : public Display {
 public:
  SdlDisplay();
  ~SdlDisplay() override;
  bool Flip() override;
  bool Init() override;
  bool Shutdown() override;
  std::uint8_t* Lock() override;
  bool Unlock() override;
  bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) override;
  bool SetPalette(const std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) override;
  bool GetPalette(std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) override;
  std::int32_t Width() override;
  std::int32_t Height() override;
  std::int32_t Pitch() override;

  // Formats "%s - KIV Player 3.1" (cut to 255 characters) as the window caption.
  void SetCaption(const char* text);
  // The caption text last set (module-wide buffer, valid for the program's lifetime).
  static const char* Caption();
  SDL_Surface* Surface() const { return screen_; }
  std::int32_t BitsPerPixel() const { return bitsPerPixel_; }

 private:
  void Release();
  bool MustLock() const;

  SDL_Surface* screen_ = nullptr;
  std::uint8_t shadowPalette_[256 * 3] = {};
  std::int32_t bitsPerPixel_ = 255;
  std::int32_t pitch_ = 320;
  std::int32_t width_ = 320;
  std::int32_t height_ = 240;
};

// The program's SDL display (one per process).
SdlDisplay& TheSdlDisplay();

}  // namespace kiv
