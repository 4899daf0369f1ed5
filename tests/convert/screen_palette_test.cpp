// The screen palette: the font sheet's colour map, read here straight from
// the file (so a map read in the wrong byte order cannot pass), with the
// ramps on top.
#include "convert/screen_palette.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace kiv {
namespace {

TEST(ScreenPalette, ShowsTheFontSheetColoursBelowTheRamps) {
  std::ifstream file(KIV_SOURCE_DIR "/data/fontsheet.tga", std::ios::binary);
  const std::vector<std::uint8_t> sheet{std::istreambuf_iterator<char>(file), {}};
  ASSERT_GE(sheet.size(), 18u + 768u);
  const std::uint8_t* map = sheet.data() + 18;  // stored blue, green, red

  const std::vector<std::uint8_t> palette = ComputeScreenPalette();
  ASSERT_EQ(palette.size(), 768u);
  for (int i = 1; i < 64; ++i) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(palette[3 * i + c], map[3 * i + 2 - c]) << "entry " << i;
  }
  // Two entries known by colour: magenta-pink and pure red.
  EXPECT_EQ(std::vector<int>(palette.begin() + 3, palette.begin() + 6), (std::vector<int>{255, 0, 200}));
  EXPECT_EQ(std::vector<int>(palette.begin() + 12, palette.begin() + 15), (std::vector<int>{255, 0, 0}));
}

TEST(ScreenPalette, RampsAndUntouchedFontColours) {
  std::uint8_t palette[768];
  for (int i = 0; i < 768; ++i) palette[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::uint8_t before[768];
  std::memcpy(before, palette, sizeof(palette));
  BuildScreenPalette(palette);

  struct Row {
    int entry;
    int r, g, b;
  };
  for (const Row& row : {Row{0, 0, 0, 0}, Row{64, 0, 0, 0}, Row{126, 248, 248, 248},
                         Row{127, 255, 255, 255}, Row{128, 96, 126, 255}, Row{160, 175, 190, 255},
                         Row{191, 252, 252, 255}, Row{192, 205, 39, 0}, Row{224, 230, 147, 127},
                         Row{255, 254, 251, 251}}) {
    EXPECT_EQ(palette[row.entry * 3], row.r) << row.entry;
    EXPECT_EQ(palette[row.entry * 3 + 1], row.g) << row.entry;
    EXPECT_EQ(palette[row.entry * 3 + 2], row.b) << row.entry;
  }
  EXPECT_EQ(std::memcmp(palette + 3, before + 3, 63 * 3), 0);
  // The grey ramp climbs by 4.
  for (int k = 0; k < 63; ++k) EXPECT_EQ(palette[(64 + k) * 3], 4 * k);
}

}  // namespace
}  // namespace kiv
