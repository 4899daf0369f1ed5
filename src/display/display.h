// The 8-bit screen device. Display is the interface that every drawing client
// uses; MemoryDisplay draws into a plain buffer (tests, offscreen rendering
// and the browser). The SDL window's display is in display/sdl/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// The program-wide display: the one that the program, a test or the offscreen
// renderer has put in place; until then a memory display without a mode.
Display& CurrentDisplay();
void SetCurrentDisplay(Display* display);  // null restores the memory display

// The window caption for an animation path, "PATH - KIV Player 3.1", cut to
// fit size bytes (255 characters in the caption's 256-byte buffer).
void FormatCaption(char* buffer, std::size_t size, const char* path);

}  // namespace kiv
