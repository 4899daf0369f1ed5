// Palette PNG output and PNG input through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivtool {

// Writes an 8-bit colour-type-3 PNG of width x height indices with the
// 256-entry palette (768 bytes, red green blue).
bool WritePalettePng(const char* path, const std::uint8_t* indices, std::int32_t width,
                     std::int32_t height, const std::vector<std::uint8_t>& palette,
                     std::string* error);

struct PngPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool indexed = false;              // a palette PNG: pixels are its indices
  std::vector<std::uint8_t> pixels;  // indexed: 1 byte per pixel; else red green blue
};

// Reads any PNG: palette PNGs (any bit depth) as indices, others as 8-bit
// RGB (alpha dropped, grey widened, 16-bit narrowed).
bool ReadPng(const char* path, PngPicture* picture, std::string* error);

// Maps RGB pixels to the nearest palette entry (squared distance; the lowest
// index wins a tie).
std::vector<std::uint8_t> NearestIndices(const std::vector<std::uint8_t>& rgb,
                                         const std::vector<std::uint8_t>& palette);

}  // namespace kivtool
