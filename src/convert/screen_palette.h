// The screen palette every animation is shown with: a file carries no
// palette of its own, so pictures are converted to and from these colours.
#pragma once

#include <cstdint>
#include <vector>

namespace kiv {

constexpr std::size_t kPaletteEntries = 256;
constexpr std::size_t kPaletteBytes = 3 * kPaletteEntries;  // red, green, blue per entry
// Frame pixels of this value let the background show through.
constexpr std::uint8_t TransparentIndex = 127;

// Sets entry 0 to black and entries 64 to 255 to the grey, blue and red
// ramps; entries 1 to 63 (the font sheet's colours) keep their values.
void BuildScreenPalette(std::uint8_t* palette /* 768 bytes */);

// The font sheet's colour map, stored blue, green, red after its 18-byte
// TGA header, as 768 bytes red, green, blue into rgb; false (rgb untouched)
// when the sheet is too short to hold it.
bool ReadSheetColours(const std::uint8_t* sheet, std::size_t size, std::uint8_t* rgb);

// Works out the palette the player shows: the font sheet's colour map with
// the ramps on top. 768 bytes, red green blue.
std::vector<std::uint8_t> ComputeScreenPalette();

}  // namespace kiv
