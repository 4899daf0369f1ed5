// kivtool shows frames through the palette the player sets up: both are
// checked against the font sheet's colour map, read here straight from the
// file, so a map read in the wrong byte order cannot pass in either.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "display/display.h"
#include "loaded_animation.h"
#include "playback/player.h"
#include "shell/shell_flags.h"

namespace {

TEST(ScreenPalette, KivtoolAndThePlayerShowTheFontSheetColours) {
  std::ifstream file(KIV_SOURCE_DIR "/data/fontsheet.tga", std::ios::binary);
  const std::vector<std::uint8_t> sheet{std::istreambuf_iterator<char>(file), {}};
  ASSERT_GE(sheet.size(), 18u + 768u);
  const std::uint8_t* map = sheet.data() + 18;  // stored blue, green, red

  kiv::MemoryDisplay display;
  ASSERT_TRUE(display.SetVideoMode(800, 600, 8));
  kiv::SetCurrentDisplay(&display);
  auto* player = new kiv::Player(nullptr);
  ASSERT_EQ(player->Init(), 1);
  std::vector<std::uint8_t> shown(display.Palette(), display.Palette() + 768);
  player->Shutdown();
  delete player;
  kiv::SetCurrentDisplay(nullptr);
  kiv::ResetShellFlags();

  const std::vector<std::uint8_t> exported = kivtool::ScreenPalette();
  ASSERT_EQ(exported.size(), 768u);
  for (int i = 1; i < 64; ++i) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(exported[3 * i + c], map[3 * i + 2 - c]) << "kivtool, entry " << i;
      EXPECT_EQ(shown[3 * i + c], map[3 * i + 2 - c]) << "player, entry " << i;
    }
  }
  // Two entries known by colour: magenta-pink and pure red.
  EXPECT_EQ(std::vector<int>(exported.begin() + 3, exported.begin() + 6), (std::vector<int>{255, 0, 200}));
  EXPECT_EQ(std::vector<int>(exported.begin() + 12, exported.begin() + 15), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(exported, shown);
}

}  // namespace
