// Animated GIF input through giflib: each frame composed on the logical
// screen as a viewer shows it (offsets, local colour tables, transparency,
// interlace, disposal 1 to 3). Nothing is drawn yet where the canvas is
// transparent. The screen's size is checked before any frame is decoded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "convert/png_io.h"

struct ColorMapObject;
struct GifFileType;
struct GraphicsControlBlock;

namespace kiv {

class GifReader {
 public:
  GifReader() = default;
  ~GifReader();
  GifReader(const GifReader&) = delete;
  GifReader& operator=(const GifReader&) = delete;

  // Starts reading from stream (which must outlive the reader) or bytes
  // (copied by reference; they must outlive the reader too).
  bool Open(std::FILE* stream, const PictureLimits& limits, std::string* error);
  bool Open(std::span<const std::uint8_t> bytes, const PictureLimits& limits, std::string* error);
  // The next frame as a red green blue alpha picture and how long it shows
  // in centiseconds. kEnd after the last frame.
  ReadStatus Next(Picture* picture, std::uint32_t* centiseconds, std::string* error);

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }

 private:
  struct Source {
    std::FILE* stream = nullptr;
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
  };
  static int Input(GifFileType* gif, unsigned char* data, int length);
  bool Start(const PictureLimits& limits, std::string* error);
  bool Fail(int gifError, std::string* error);
  void Dispose();
  bool DrawFrame(const GraphicsControlBlock& control, const ColorMapObject* map, std::string* error);

  Source source_;
  GifFileType* gif_ = nullptr;
  std::int32_t width_ = 0, height_ = 0;
  std::int64_t maxPixels_ = kMaxPicturePixels;
  std::vector<std::uint8_t> canvas_;  // red green blue alpha
  std::vector<std::uint8_t> saved_;   // the canvas a "restore to previous" frame goes back to
  std::vector<std::uint8_t> line_;
  int disposal_ = 0;                  // how the frame shown last leaves the canvas
  std::int32_t left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;  // its area, clipped
};

}  // namespace kiv
