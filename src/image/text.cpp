#include "image/text.h"

#include "image/image.h"

extern const unsigned char kData_fontsheet_tga[];
extern const std::size_t kData_fontsheet_tga_size;

namespace kiv {

// Codes 32 (space) to 126: {first column from sheet column 10, width}. The
// space is 7 wide but "!" starts at 8; from there each glyph starts where the
// one before it ends.
const Glyph kGlyphTable[kGlyphCount] = {
    {0, 7}, {8, 4}, {12, 6}, {18, 7}, {25, 7}, {32, 8}, {40, 8}, {48, 3},  // codes 32 to 39
    {51, 4}, {55, 4}, {59, 8}, {67, 7}, {74, 3}, {77, 5}, {82, 3}, {85, 8},  // codes 40 to 47
    {93, 7}, {100, 7}, {107, 7}, {114, 7}, {121, 7}, {128, 7}, {135, 7}, {142, 7},  // codes 48 to 55
    {149, 7}, {156, 7}, {163, 3}, {166, 3}, {169, 5}, {174, 5}, {179, 5}, {184, 7},  // codes 56 to 63
    {191, 7}, {198, 8}, {206, 8}, {214, 6}, {220, 8}, {228, 7}, {235, 7}, {242, 8},  // codes 64 to 71
    {250, 8}, {258, 3}, {261, 7}, {268, 7}, {275, 7}, {282, 11}, {293, 8}, {301, 8},  // codes 72 to 79
    {309, 8}, {317, 8}, {325, 8}, {333, 8}, {341, 7}, {348, 8}, {356, 7}, {363, 11},  // codes 80 to 87
    {374, 8}, {382, 8}, {390, 8}, {398, 4}, {402, 8}, {410, 4}, {414, 6}, {420, 5},  // codes 88 to 95
    {425, 3}, {428, 7}, {435, 7}, {442, 5}, {447, 7}, {454, 7}, {461, 4}, {465, 7},  // codes 96 to 103
    {472, 7}, {479, 3}, {482, 4}, {486, 7}, {493, 3}, {496, 11}, {507, 7}, {514, 7},  // codes 104 to 111
    {521, 7}, {528, 7}, {535, 5}, {540, 7}, {547, 4}, {551, 7}, {558, 7}, {565, 9},  // codes 112 to 119
    {574, 8}, {582, 7}, {589, 7}, {596, 5}, {601, 9}, {610, 5}, {615, 6},  // codes 120 to 126
};

const std::uint8_t* FontSheetData() {
  return kData_fontsheet_tga;
}

std::size_t FontSheetSize() {
  return kData_fontsheet_tga_size;
}

void DrawText(Image& font, const char* text, std::int32_t x, std::int32_t y) {
  if (text == nullptr) {
    return;
  }
  std::int32_t advance = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    font.SetPosition(x + advance, y);
    // Codes below 32 wrap to large values: both they and codes above 126 draw
    // the space.
    std::uint8_t g = static_cast<std::uint8_t>(static_cast<std::uint8_t>(*c) - 32);
    if (g >= kGlyphCount) {
      g = 0;
    }
    const Glyph& glyph = kGlyphTable[g];
    font.DrawRegion(glyph.x + kGlyphColumnOrigin, kGlyphRow, glyph.width, kGlyphHeight);
    advance += glyph.width;
  }
}

}  // namespace kiv
