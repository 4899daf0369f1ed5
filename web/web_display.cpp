#include "web/web_display.h"

#include <cstring>

namespace kiv::web {

bool WebDisplay::Flip() {
  MemoryDisplay::Flip();
  shown_ = true;
  return true;
}

// As on the desktop, a palette change shows at once, without a flip.
bool WebDisplay::SetPalette(const std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) {
  MemoryDisplay::SetPalette(rgb, first, end);
  shown_ = true;
  return true;
}

// The first picture of a mode is converted and drawn in full. The RGBA copy
// is not cleared first: a large screen's memory is then touched once, not
// twice, while a file opens.
bool WebDisplay::SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) {
  if (!MemoryDisplay::SetVideoMode(width, height, bitsPerPixel)) {
    rgba_.reset();
    rgbaPixels_ = 0;
    return false;
  }
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels != rgbaPixels_) {
    rgba_.reset(new std::uint32_t[pixels]);  // left uninitialised: see fresh_
    rgbaPixels_ = pixels;
  }
  fresh_ = true;
  shown_ = true;
  return true;
}

// One pass converts and compares: the paused player flips the same picture
// every tick, and a playing one often changes only part of the screen, so
// most rows cost the canvas nothing.
bool WebDisplay::TakeShownPicture() {
  changedTop_ = changedEnd_ = 0;
  const std::size_t width = static_cast<std::size_t>(Width());
  const std::int32_t height = Height();
  // A mode that failed keeps the screen of the one before but has no RGBA
  // copy to convert into.
  if (!shown_ || Pixels().empty() || height <= 0 ||
      rgbaPixels_ != width * static_cast<std::size_t>(height)) {
    return false;
  }
  shown_ = false;
  std::uint32_t colours[256];
  const std::uint8_t* palette = Palette();
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t rgbaBytes[4] = {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2], 255};
    std::memcpy(&colours[i], rgbaBytes, sizeof colours[i]);
  }
  const std::size_t pitch = static_cast<std::size_t>(Pitch());
  bool any = false;
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = Pixels().data() + static_cast<std::size_t>(y) * pitch;
    std::uint32_t* out = rgba_.get() + static_cast<std::size_t>(y) * width;
    bool rowChanged = fresh_;
    if (fresh_) {
      for (std::size_t x = 0; x < width; ++x) out[x] = colours[row[x]];
    } else {
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t colour = colours[row[x]];
        rowChanged |= out[x] != colour;
        out[x] = colour;
      }
    }
    if (rowChanged) {
      if (!any) changedTop_ = y;
      changedEnd_ = y + 1;
      any = true;
    }
  }
  fresh_ = false;
  return any;
}

}  // namespace kiv::web
