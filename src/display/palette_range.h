// Palette ranges shared by the displays.
#pragma once

#include <cstdint>

namespace kiv {

constexpr std::uint32_t kPaletteEntries = 256;

// Clamps the half-open range [first, end) to the 256 entries; false when
// nothing is left to copy.
inline bool ClampPaletteRange(std::uint32_t first, std::uint32_t& end) {
  if (end > kPaletteEntries) end = kPaletteEntries;
  return first < end;
}

}  // namespace kiv
