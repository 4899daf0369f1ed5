// The browser's display: the 8-bit screen in memory, turned into RGBA pixels
// for a canvas whenever a finished picture or a palette change is shown.
#pragma once

#include <cstdint>
#include <vector>

#include "display/display.h"

namespace kiv::web {

class WebDisplay : public MemoryDisplay {
 public:
  bool Flip() override;
  bool SetPalette(const std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) override;
  bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) override;

  // Converts the screen through the palette into Rgba() when something was
  // shown since the last call; true when it did.
  bool TakeShownPicture();
  // width * height * 4 bytes, row by row without padding; valid until the
  // next SetVideoMode.
  const std::uint8_t* Rgba() const { return rgba_.data(); }

 private:
  std::vector<std::uint8_t> rgba_;
  // The screen and palette last converted: a flip that shows the same
  // picture again (the paused player redraws every tick) costs no canvas work.
  std::vector<std::uint8_t> lastPixels_;
  std::uint8_t lastPalette_[256 * 3] = {};
  bool shown_ = false;
};

}  // namespace kiv::web
