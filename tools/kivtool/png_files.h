// Palette PNG output and PNG input through libpng.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kivtool {

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
// Writes a whole palette PNG file through an OutputFile (temporary file,
// then rename); "-" appends it to standard output.
bool SavePalettePng(const std::string& path, bool noClobber, const std::uint8_t* indices,
                    std::int32_t width, std::int32_t height,
                    const std::vector<std::uint8_t>& palette, int transparentIndex,
                    std::string* error);

constexpr int kNoTransparency = -1;

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
