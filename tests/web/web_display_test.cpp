#include "web/web_display.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace kiv::web {
namespace {

constexpr int kWidth = 5;
constexpr int kHeight = 8;

std::array<std::uint8_t, 4> RgbaAt(const WebDisplay& display, int x, int y) {
  const std::uint8_t* p = display.Rgba() + 4 * (y * kWidth + x);
  return {p[0], p[1], p[2], p[3]};
}

void SetColour(WebDisplay& display, std::uint8_t index, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const std::uint8_t rgb[3] = {r, g, b};
  display.SetPalette(rgb, index, index + 1u);
}

// The canvas gets only the rows reported as changed, so a row left out of
// the range stays wrong on the screen until something else redraws it.
TEST(WebDisplayTest, ConvertsThroughThePaletteAndReportsTheChangedRows) {
  WebDisplay display;
  ASSERT_TRUE(display.SetVideoMode(kWidth, kHeight, 8));
  SetColour(display, 0, 1, 2, 3);
  SetColour(display, 9, 200, 100, 50);
  std::uint8_t* pixels = display.Lock();
  pixels[2 * kWidth + 4] = 9;
  display.Flip();

  // The first picture of a mode is new everywhere, black included.
  ASSERT_TRUE(display.TakeShownPicture());
  EXPECT_EQ(display.ChangedTop(), 0);
  EXPECT_EQ(display.ChangedEnd(), kHeight);
  EXPECT_EQ(RgbaAt(display, 0, 0), (std::array<std::uint8_t, 4>{1, 2, 3, 255}));
  EXPECT_EQ(RgbaAt(display, 4, 2), (std::array<std::uint8_t, 4>{200, 100, 50, 255}));
  EXPECT_EQ(RgbaAt(display, 4, kHeight - 1), (std::array<std::uint8_t, 4>{1, 2, 3, 255}));

  // Nothing shown, or the same picture shown again (the paused player
  // redraws every tick): no canvas work.
  EXPECT_FALSE(display.TakeShownPicture());
  display.Flip();
  EXPECT_FALSE(display.TakeShownPicture());

  // Pixels drawn but not yet flipped are not shown.
  pixels = display.Lock();
  pixels[3 * kWidth] = 9;
  pixels[6 * kWidth + 1] = 9;
  EXPECT_FALSE(display.TakeShownPicture());
  display.Flip();
  ASSERT_TRUE(display.TakeShownPicture());
  EXPECT_EQ(display.ChangedTop(), 3);
  EXPECT_EQ(display.ChangedEnd(), 7);
  EXPECT_EQ(RgbaAt(display, 0, 3), (std::array<std::uint8_t, 4>{200, 100, 50, 255}));
  EXPECT_EQ(RgbaAt(display, 1, 6), (std::array<std::uint8_t, 4>{200, 100, 50, 255}));

  // A palette change shows at once, where its colour is used.
  SetColour(display, 9, 7, 8, 9);
  ASSERT_TRUE(display.TakeShownPicture());
  EXPECT_EQ(display.ChangedTop(), 2);
  EXPECT_EQ(display.ChangedEnd(), 7);
  EXPECT_EQ(RgbaAt(display, 4, 2), (std::array<std::uint8_t, 4>{7, 8, 9, 255}));
  // A colour no pixel uses changes nothing on the canvas.
  SetColour(display, 200, 255, 255, 255);
  EXPECT_FALSE(display.TakeShownPicture());

  // The last row alone.
  display.Lock()[(kHeight - 1) * kWidth + 2] = 9;
  display.Flip();
  ASSERT_TRUE(display.TakeShownPicture());
  EXPECT_EQ(display.ChangedTop(), kHeight - 1);
  EXPECT_EQ(display.ChangedEnd(), kHeight);

  // A new mode starts over with all of the screen.
  ASSERT_TRUE(display.SetVideoMode(kWidth, kHeight, 8));
  ASSERT_TRUE(display.TakeShownPicture());
  EXPECT_EQ(display.ChangedTop(), 0);
  EXPECT_EQ(display.ChangedEnd(), kHeight);
  EXPECT_EQ(RgbaAt(display, 4, 2), (std::array<std::uint8_t, 4>{1, 2, 3, 255}));

  // A mode that cannot be set leaves nothing to show (nor to convert into),
  // whatever the old screen still holds.
  EXPECT_FALSE(display.SetVideoMode(kWidth, kHeight, 16));
  std::uint8_t* stale = display.Lock();
  if (stale != nullptr) stale[0] = 9;
  display.Flip();
  EXPECT_FALSE(display.TakeShownPicture());
}

}  // namespace
}  // namespace kiv::web
