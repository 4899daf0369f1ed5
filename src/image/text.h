// The built-in font sheet and text drawing with its glyph table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

class Image;

struct Glyph {
  std::int32_t x;      // first column, counted from sheet column 10
  std::int32_t width;
};
constexpr int kGlyphCount = 95;  // codes 32 to 126
extern const Glyph kGlyphTable[kGlyphCount];
constexpr std::int32_t kGlyphRow = 522;
constexpr std::int32_t kGlyphHeight = 8;
constexpr std::int32_t kGlyphColumnOrigin = 10;

// The font sheet built into the program (a TGA file).
const std::uint8_t* FontSheetData();
std::size_t FontSheetSize();

// Draws one line with its first glyph's top-left corner at (x, y).
void DrawText(Image& font, const char* text, std::int32_t x, std::int32_t y);

}  // namespace kiv
