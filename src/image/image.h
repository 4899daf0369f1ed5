// A palettised picture that draws itself onto the Display, clipped, with
// transparent colour indices.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

class Display;
class ResourceManager;

class Sprite {
 public:
  virtual ~Sprite() = default;
  virtual std::int32_t LoadFromFile(const char* name) = 0;
  virtual std::int32_t Draw() = 0;
  virtual std::int32_t SetPosition(std::int32_t x, std::int32_t y) = 0;
  virtual std::int32_t Free() = 0;
};

class Image : public Sprite {
 public:
  // Records the program-wide ResourceManager and CurrentDisplay().
  Image();
  Image(ResourceManager* resources, Display* display);
  ~Image() override;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // Picture file: width and height big-endian at 8 and 10, palette at 32,
  // pixels at 800. Returns 0 (Image unchanged) for a missing or short file;
  // a loaded picture replaces what the Image held.
  std::int32_t LoadFromFile(const char* name) override;
  // Draws the whole Image at its position; index 0 is transparent.
  std::int32_t Draw() override;
  std::int32_t SetPosition(std::int32_t x, std::int32_t y) override;
  std::int32_t Free() override;

  std::int32_t ApplyPalette();
  // Draws the w x h region at (srcX, srcY) at the Image's position; indices 0
  // and 1 are transparent. The region is clipped to the Image and the screen.
  std::int32_t DrawRegion(std::int32_t srcX, std::int32_t srcY, std::int32_t w, std::int32_t h);
  // Decodes the font sheet (TGA, 800 x 600) into a pixel buffer of the
  // Image's own. 0, with the Image unchanged, for null data or a sheet that
  // does not fit the layout.
  std::int32_t LoadSheetFromMemory(const std::uint8_t* data, std::size_t size);

  std::int32_t X() const { return x_; }
  std::int32_t Y() const { return y_; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  const std::uint8_t* Pixels() const { return pixels_; }
  const std::uint8_t* Palette() const { return palette_; }

 private:
  std::int32_t Blit(std::int32_t srcX, std::int32_t srcY, std::int32_t w, std::int32_t h,
                    std::uint8_t firstOpaque);

  ResourceManager* resources_;
  Display* display_;
  std::int32_t x_ = 0;
  std::int32_t y_ = 0;
  std::uint8_t* fileBuffer_ = nullptr;
  std::uint8_t* pixels_ = nullptr;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::uint8_t palette_[256 * 3] = {};
};

}  // namespace kiv
