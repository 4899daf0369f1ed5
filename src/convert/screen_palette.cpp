#include "convert/screen_palette.h"

extern const unsigned char kData_fontsheet_tga[];
extern const std::size_t kData_fontsheet_tga_size;

namespace kiv {
namespace {

constexpr std::size_t kColourMapOffset = 18;

}  // namespace

bool ReadSheetColours(const std::uint8_t* sheet, std::size_t size, std::uint8_t* rgb) {
  if (size < kColourMapOffset + kPaletteBytes) return false;
  const std::uint8_t* map = sheet + kColourMapOffset;
  for (std::size_t i = 0; i < kPaletteEntries; ++i) {
    rgb[3 * i + 0] = map[3 * i + 2];
    rgb[3 * i + 1] = map[3 * i + 1];
    rgb[3 * i + 2] = map[3 * i + 0];
  }
  return true;
}

void BuildScreenPalette(std::uint8_t* palette) {
  palette[0] = palette[1] = palette[2] = 0;

  // Grey: steps of 4, with the last entry pushed up to full white.
  int a = 0;
  for (int k = 0; k < 64; ++k, a += 4) {
    const std::uint8_t g = static_cast<std::uint8_t>(a < 252 ? a : 255);
    std::uint8_t* entry = palette + 3 * (64 + k);
    entry[0] = entry[1] = entry[2] = g;
  }
  // Blue and red climb from their base colours towards white in steps of
  // (255 - base) / 64; every step is a multiple of 1/64, so the products are
  // exact and truncation gives the same result everywhere.
  for (int k = 0; k < 64; ++k) {
    std::uint8_t* blue = palette + 3 * (128 + k);
    blue[0] = static_cast<std::uint8_t>(96.0 + 2.484375 * k);
    blue[1] = static_cast<std::uint8_t>(126.0 + 2.015625 * k);
    blue[2] = 255;
    std::uint8_t* red = palette + 3 * (192 + k);
    red[0] = static_cast<std::uint8_t>(205.0 + 0.78125 * k);
    red[1] = static_cast<std::uint8_t>(39.0 + 3.375 * k);
    red[2] = static_cast<std::uint8_t>(3.984375 * k);
  }
}

std::vector<std::uint8_t> ComputeScreenPalette() {
  std::vector<std::uint8_t> palette(kPaletteBytes, 0);
  ReadSheetColours(kData_fontsheet_tga, kData_fontsheet_tga_size, palette.data());
  BuildScreenPalette(palette.data());
  return palette;
}

}  // namespace kiv
