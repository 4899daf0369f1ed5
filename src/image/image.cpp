#include "image/image.h"

#include <algorithm>
#include <cstring>

#include "display/display.h"
#include "resources/resource_manager.h"

namespace kiv {

namespace {

constexpr std::int32_t kPaletteOffset = 32;
constexpr std::int32_t kPixelOffset = 800;

}  // namespace

Image::Image() : Image(&TheResourceManager(), &CurrentDisplay()) {}

Image::Image(ResourceManager* resources, Display* display) : resources_(resources), display_(display) {}

Image::~Image() {
  if (fileBuffer_ != nullptr || pixels_ != nullptr) {
    Free();
  }
}

std::int32_t Image::LoadFromFile(const char* name) {
  if (resources_ == nullptr) {
    return 0;
  }
  std::int32_t size = 0;
  std::uint8_t* file = resources_->LoadFile(name, nullptr, &size);
  if (file == nullptr) {
    return 0;
  }
  // The picture file has no length field: a file too short for its own
  // header, palette or pixels is refused rather than read past its end.
  std::int32_t width = 0;
  std::int32_t height = 0;
  if (size >= kPixelOffset) {
    width = (file[8] << 8) | file[9];
    height = (file[10] << 8) | file[11];
  }
  if (size < kPixelOffset ||
      static_cast<std::int64_t>(size) < kPixelOffset + static_cast<std::int64_t>(width) * height) {
    resources_->FreeFile(file);
    return 0;
  }
  // Replacing a loaded picture gives the old buffers back first.
  if (fileBuffer_ != nullptr || pixels_ != nullptr) {
    Free();
  }
  fileBuffer_ = file;
  pixels_ = file + kPixelOffset;
  width_ = width;
  height_ = height;
  x_ = 0;
  y_ = 0;
  std::memcpy(palette_, file + kPaletteOffset, sizeof(palette_));
  return 1;
}

std::int32_t Image::Draw() {
  return Blit(0, 0, width_, height_, 1);
}

std::int32_t Image::DrawRegion(std::int32_t srcX, std::int32_t srcY, std::int32_t w, std::int32_t h) {
  return Blit(srcX, srcY, w, h, 2);
}

// Copies the w x h rectangle at (srcX, srcY) of the pixels to (x, y) on the
// screen, writing only values of at least `firstOpaque`. The rectangle is cut
// to the Image first (never reading outside the pixels), then to the screen.
std::int32_t Image::Blit(std::int32_t srcX, std::int32_t srcY, std::int32_t w, std::int32_t h,
                         std::uint8_t firstOpaque) {
  if (display_ == nullptr) {
    return 0;
  }
  std::uint8_t* screen = display_->Lock();
  if (screen == nullptr) {
    return 0;
  }
  // 64-bit arithmetic: positions and sizes are arbitrary 32-bit values.
  std::int64_t left = srcX, top = srcY;
  std::int64_t cols = w, rows = h;
  std::int64_t destX = x_, destY = y_;

  // Cut to the Image.
  if (left < 0) {
    cols += left;
    destX -= left;
    left = 0;
  }
  if (top < 0) {
    rows += top;
    destY -= top;
    top = 0;
  }
  cols = std::min<std::int64_t>(cols, static_cast<std::int64_t>(width_) - left);
  rows = std::min<std::int64_t>(rows, static_cast<std::int64_t>(height_) - top);

  // Cut to the screen.
  const std::int64_t screenW = display_->Width();
  const std::int64_t screenH = display_->Height();
  const std::int64_t pitch = display_->Pitch();
  if (destX < 0) {
    cols += destX;
    left -= destX;
    destX = 0;
  }
  if (destY < 0) {
    rows += destY;
    top -= destY;
    destY = 0;
  }
  cols = std::min(cols, screenW - destX);
  rows = std::min(rows, screenH - destY);

  if (pixels_ != nullptr && cols > 0 && rows > 0) {
    const std::uint8_t* source = pixels_ + top * width_ + left;
    std::uint8_t* dest = screen + destY * pitch + destX;
    for (std::int64_t row = 0; row < rows; ++row) {
      for (std::int64_t col = 0; col < cols; ++col) {
        const std::uint8_t value = source[col];
        if (value >= firstOpaque) {
          dest[col] = value;
        }
      }
      source += width_;
      dest += pitch;
    }
  }
  display_->Unlock();
  return 1;
}

std::int32_t Image::SetPosition(std::int32_t x, std::int32_t y) {
  x_ = x;
  y_ = y;
  return 1;
}

std::int32_t Image::ApplyPalette() {
  if (display_ != nullptr) {
    display_->SetPalette(palette_, 0, 256);
  }
  return 1;
}

std::int32_t Image::Free() {
  if (fileBuffer_ == nullptr && pixels_ != nullptr) {
    delete[] pixels_;
  }
  if (fileBuffer_ != nullptr) {
    if (resources_ != nullptr) {
      resources_->FreeFile(fileBuffer_);
    } else {
      delete[] fileBuffer_;
    }
  }
  x_ = 0;
  y_ = 0;
  width_ = 0;
  height_ = 0;
  fileBuffer_ = nullptr;
  pixels_ = nullptr;
  return 1;
}

}  // namespace kiv
