// PNG in and out through libpng. Readers take a stream or bytes and check a
// picture's size from its header before any pixel is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace kiv {

constexpr int kNoTransparency = -1;
// The largest picture a frame buffer holds (720 x 576 frames fit with room).
constexpr std::int64_t kMaxPicturePixels = 1920000;

// Writes an 8-bit colour-type-3 PNG of width x height indices with the
// 256-entry palette (768 bytes, red green blue) to stream. A transparent
// index of 0 to 255 gets a tRNS entry that makes it fully transparent.
// False with the reason (the system's for a failed write) in *error.
bool WritePalettePng(std::FILE* stream, const std::uint8_t* indices, std::int32_t width,
                     std::int32_t height, const std::vector<std::uint8_t>& palette,
                     int transparentIndex, std::string* error);
// Writes an 8-bit RGB PNG (3 bytes per pixel) to stream.
bool WriteRgbPng(std::FILE* stream, const std::uint8_t* rgb, std::int32_t width,
                 std::int32_t height, std::string* error);

// A picture read as colours. Palette pictures also keep their indices and
// palette, so that a mapper can work per palette entry and keep numbers.
struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> rgba;  // red green blue alpha per pixel, rows top first
  bool indexed = false;
  std::vector<std::uint8_t> indices;  // indexed: one per pixel
  std::vector<std::uint8_t> palette;  // indexed: red green blue alpha per entry (256 entries)
};

// What a reader accepts: at most maxPixels pixels, and, when width is not 0,
// exactly width x height.
struct PictureLimits {
  std::int64_t maxPixels = kMaxPicturePixels;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

enum class ReadStatus { kPicture, kEnd, kError };

// Reads one PNG of any colour type and bit depth from stream, leaving the
// stream just after it (so a stream of PNGs reads one by one). kEnd when the
// stream ends before a signature. Colours: grey widened, 16-bit scaled to 8,
// tRNS turned into alpha, opaque pixels alpha 255. picture's buffers are
// reused. kError with the reason in *error.
ReadStatus ReadPng(std::FILE* stream, const PictureLimits& limits, Picture* picture,
                   std::string* error);
// The same from bytes (a picture that ends early is an error).
ReadStatus ReadPngFromMemory(std::span<const std::uint8_t> bytes, const PictureLimits& limits,
                             Picture* picture, std::string* error);

// Decodes a whole PNG in memory to red green blue alpha bytes (the window
// icon). False for anything libpng refuses or a picture over the size bound.
bool DecodePngRgba(const std::uint8_t* bytes, std::size_t size, std::int32_t* width,
                   std::int32_t* height, std::vector<std::uint8_t>* rgba);

}  // namespace kiv
