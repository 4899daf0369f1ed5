// The browser's display: the 8-bit screen in memory, turned into RGBA pixels
// for a canvas whenever a finished picture or a palette change is shown.
#pragma once

#include <cstdint>
#include <memory>

#include "display/display.h"

namespace kiv::web {

class WebDisplay : public MemoryDisplay {
 public:
  bool Flip() override;
  bool SetPalette(const std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) override;
  bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) override;

  // Converts the screen through the palette into Rgba() when something was
  // shown since the last call; true when a pixel of Rgba() changed. The rows
  // that changed are then ChangedTop() up to, not including, ChangedEnd():
  // the canvas needs only those again.
  bool TakeShownPicture();
  // Something was shown since the last TakeShownPicture.
  bool HasShownPicture() const { return shown_; }
  // width * height * 4 bytes, row by row without padding; valid until the
  // next SetVideoMode.
  const std::uint8_t* Rgba() const { return reinterpret_cast<const std::uint8_t*>(rgba_.get()); }
  std::int32_t ChangedTop() const { return changedTop_; }
  std::int32_t ChangedEnd() const { return changedEnd_; }

 private:
  // One RGBA pixel per 32-bit word, in the canvas's byte order: comparing
  // and storing a word per pixel keeps the pass over the screen short.
  std::unique_ptr<std::uint32_t[]> rgba_;
  std::size_t rgbaPixels_ = 0;
  std::int32_t changedTop_ = 0;
  std::int32_t changedEnd_ = 0;
  bool fresh_ = false;  // nothing of this mode converted yet
  bool shown_ = false;
};

}  // namespace kiv::web
