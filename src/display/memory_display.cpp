#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "display/palette_range.h"

namespace kiv {
namespace {

constexpr std::int32_t kScreenBits = 8;
// Far above any screen the player opens; keeps a bad request from asking for gigabytes.
constexpr std::int64_t kMaxSide = 8192;

}  // namespace

MemoryDisplay::MemoryDisplay(std::int32_t extraPitch)
    : extraPitch_(extraPitch < 0 ? 0 : (extraPitch > kMaxSide ? kMaxSide : extraPitch)) {}

bool MemoryDisplay::Init() { return true; }

bool MemoryDisplay::Shutdown() {
  locked_ = false;
  return true;
}

bool MemoryDisplay::SetVideoMode(std::int32_t width, std::int32_t height,
                                 std::int32_t bitsPerPixel) {
  if ((bitsPerPixel & 0xff) != kScreenBits) {
    std::fputs(" *** Sorry, only 8 bit displays are supported!\n", stderr);
    return false;
  }
  locked_ = false;
  width_ = width;
  height_ = height;
  pitch_ = width;
  bitsPerPixel_ = kScreenBits;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
    pixels_.clear();
    std::fprintf(stderr, "Couldn't set %ix%ix%i video mode: %s\n", width, height, kScreenBits,
                 "unsupported size");
    return false;
  }
  pitch_ = width + extraPitch_;
  pixels_.assign(static_cast<std::size_t>(pitch_) * static_cast<std::size_t>(height), 0);
  return true;
}

std::uint8_t* MemoryDisplay::Lock() {
  if (pixels_.empty()) return nullptr;
  if (!locked_) {
    locked_ = true;
    ++locks_;
  }
  return pixels_.data();
}

bool MemoryDisplay::Unlock() { return true; }

bool MemoryDisplay::Flip() {
  locked_ = false;
  ++flips_;
  return true;
}

bool MemoryDisplay::SetPalette(const std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) {
  locked_ = false;
  if (rgb == nullptr || !ClampPaletteRange(first, end)) return true;
  std::memcpy(palette_ + 3 * first, rgb, 3 * (end - first));
  return true;
}

bool MemoryDisplay::GetPalette(std::uint8_t* rgb, std::uint32_t first, std::uint32_t end) {
  locked_ = false;
  if (rgb == nullptr || !ClampPaletteRange(first, end)) return true;
  std::memcpy(rgb, palette_ + 3 * first, 3 * (end - first));
  return true;
}

std::int32_t MemoryDisplay::Width() { return width_; }
std::int32_t MemoryDisplay::Height() { return height_; }
std::int32_t MemoryDisplay::Pitch() { return pitch_; }

std::uint8_t MemoryDisplay::PixelAt(std::int32_t x, std::int32_t y) const {
  if (pixels_.empty() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch_) +
                 static_cast<std::size_t>(x)];
}

}  // namespace kiv
