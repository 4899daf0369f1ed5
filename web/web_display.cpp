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

bool WebDisplay::SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) {
  if (!MemoryDisplay::SetVideoMode(width, height, bitsPerPixel)) {
    rgba_.clear();
    return false;
  }
  rgba_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
  lastPixels_.clear();
  shown_ = true;
  return true;
}

bool WebDisplay::TakeShownPicture() {
  if (!shown_ || Pixels().empty()) return false;
  shown_ = false;
  if (lastPixels_ == Pixels() && std::memcmp(lastPalette_, Palette(), sizeof lastPalette_) == 0) {
    return false;
  }
  lastPixels_ = Pixels();
  std::memcpy(lastPalette_, Palette(), sizeof lastPalette_);
  const std::size_t width = static_cast<std::size_t>(Width());
  const std::size_t height = static_cast<std::size_t>(Height());
  const std::size_t pitch = static_cast<std::size_t>(Pitch());
  const std::uint8_t* palette = Palette();
  std::uint8_t* out = rgba_.data();
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* row = Pixels().data() + y * pitch;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* colour = palette + 3 * row[x];
      out[0] = colour[0];
      out[1] = colour[1];
      out[2] = colour[2];
      out[3] = 255;
      out += 4;
    }
  }
  return true;
}

}  // namespace kiv::web
