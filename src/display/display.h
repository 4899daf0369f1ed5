// The 8-bit screen device. Display is the interface that every drawing client
// uses; SdlDisplay draws into an SDL 1.2 window, MemoryDisplay into a plain
// buffer (tests and offscreen rendering).
#pragma once

#include <cstdint>
#include <vector>

struct SDL_Surface;

namespace kiv {

class Display {
 public:
  // Slot order of the interface.
  virtual bool Flip() = 0;
  virtual bool Init() = 0;
  virtual bool Shutdown() = 0;
  // Pointer to the 8-bit pixels (row y at pointer + y * Pitch()), or null.
  // Valid until the next Flip, SetPalette, GetPalette or Shutdown.
  virtual std::uint8_t* Lock() = 0;
  virtual bool Unlock() = 0;
  virtual bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) = 0;
  // Palette ranges are half-open [first, end); rgb holds packed triples, the
  // one for entry `first` first.
  virtual bool SetPalette(const std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) = 0;
  virtual bool GetPalette(std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) = 0;
  virtual std::int32_t Width() = 0;
  virtual std::int32_t Height() = 0;
  virtual std::int32_t Pitch() = 0;
  virtual ~Display() = default;
};

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
  // The window's content was lost or hidden (exposed, restored, activated):
  // the next Flip presents even when nothing has changed.
  void RequestPresent() { presentNeeded_ = true; }

 private:
  void Release();
  bool MustLock() const;
  // True when the surface and palette differ from what was presented last;
  // remembers them when they do.
  bool ScreenChanged();

  SDL_Surface* screen_ = nullptr;
  std::uint8_t shadowPalette_[256 * 3] = {};
  std::int32_t bitsPerPixel_ = 255;
  std::int32_t pitch_ = 320;
  std::int32_t width_ = 320;
  std::int32_t height_ = 240;
  // What the last Flip presented: presenting the same picture again costs a
  // full window upload and shows nothing new.
  std::vector<std::uint8_t> presentedPixels_;
  std::uint8_t presentedPalette_[256 * 3] = {};
  bool presentNeeded_ = true;
};

// A display in memory: the same contracts with a plain pixel buffer of a
// chosen pitch; no SDL. Lock gives null until a mode is set.
class MemoryDisplay : public Display {
 public:
  // extraPitch: bytes added to the width to make each row's pitch.
  explicit MemoryDisplay(std::int32_t extraPitch = 0);
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

  // Inspection for tests and offscreen rendering.
  const std::vector<std::uint8_t>& Pixels() const { return pixels_; }
  // The pixel at (x, y); 0 outside the mode's width and height.
  std::uint8_t PixelAt(std::int32_t x, std::int32_t y) const;
  std::int32_t BitsPerPixel() const { return bitsPerPixel_; }
  const std::uint8_t* Palette() const { return palette_; }
  int FlipCount() const { return flips_; }
  int LockCount() const { return locks_; }  // locks that were not served from the cache

 private:
  std::vector<std::uint8_t> pixels_;
  std::uint8_t palette_[256 * 3] = {};
  std::int32_t extraPitch_;
  std::int32_t bitsPerPixel_ = 255;
  std::int32_t width_ = 320;
  std::int32_t height_ = 240;
  std::int32_t pitch_ = 320;
  bool locked_ = false;
  int flips_ = 0;
  int locks_ = 0;
};

// The program-wide display: the SDL display unless a test or the offscreen
// renderer has put another one in its place.
SdlDisplay& TheSdlDisplay();
Display& CurrentDisplay();
void SetCurrentDisplay(Display* display);  // null restores the SDL display

}  // namespace kiv
