#include "image/text.h"

#include <gtest/gtest.h>

#include <vector>

#include "display/display.h"
#include "image/image.h"
#include "image/sheet_builder.h"

namespace kiv {
namespace {

TEST(GlyphTable, GlyphsFollowOneAnother) {
  int total = kGlyphTable[0].width;
  EXPECT_EQ(kGlyphTable[0].x, 0);
  EXPECT_EQ(kGlyphTable[1].x, 8);
  for (int g = 1; g < kGlyphCount; ++g) {
    if (g > 1) {
      EXPECT_EQ(kGlyphTable[g].x, kGlyphTable[g - 1].x + kGlyphTable[g - 1].width) << g;
    }
    total += kGlyphTable[g].width;
  }
  EXPECT_EQ(total, 620);
  EXPECT_EQ(kGlyphTable['0' - 32].x, 93);
  EXPECT_EQ(kGlyphTable['A' - 32].x, 198);
  EXPECT_EQ(kGlyphTable['a' - 32].x, 428);
  EXPECT_EQ(kGlyphTable['~' - 32].x, 615);
}

// A font whose glyph strip has every pixel opaque and telling its sheet
// position, so that each drawn rectangle can be traced back.
class TextTest : public ::testing::Test {
 protected:
  TextTest() : font(nullptr, &display) {
    display.SetVideoMode(320, 240, 8);
    std::vector<std::uint8_t> pixels(800 * 600, 0);
    for (int y = kGlyphRow; y < kGlyphRow + kGlyphHeight; ++y)
      for (int x = 0; x < 800; ++x) pixels[y * 800 + x] = Mark(x, y);
    std::vector<std::uint8_t> rgb(768, 0);
    testing::Sheet sheet = testing::BuildSheet(pixels, rgb.data());
    EXPECT_EQ(font.LoadSheetFromMemory(sheet.bytes.data(), sheet.bytes.size()), 1);
  }

  static std::uint8_t Mark(int x, int y) { return static_cast<std::uint8_t>(2 + (x * 3 + y * 5) % 250); }

  // True when the w x 8 sheet rectangle at (sheetX, 522) is on screen at (x, y).
  ::testing::AssertionResult Drawn(int sheetX, int w, int x, int y) {
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < w; ++i)
        if (display.PixelAt(x + i, y + j) != Mark(sheetX + i, kGlyphRow + j))
          return ::testing::AssertionFailure() << "differs at " << x + i << "," << y + j;
    return ::testing::AssertionSuccess();
  }

  int Painted() {
    int count = 0;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) count += display.PixelAt(x, y) != 0;
    return count;
  }

  MemoryDisplay display;
  Image font;
};

TEST_F(TextTest, EachCharacterDrawsItsSheetRectangle) {
  DrawText(font, "AB", 10, 20);
  EXPECT_TRUE(Drawn(208, 8, 10, 20));
  EXPECT_TRUE(Drawn(216, 8, 18, 20));
  EXPECT_EQ(Painted(), 2 * 8 * 8);
  EXPECT_EQ(font.X(), 18);  // left at the last glyph
  EXPECT_EQ(font.Y(), 20);
}

TEST_F(TextTest, UnprintableCodesDrawTheSpace) {
  DrawText(font, "\t\x7f\xc8\x80" "A", 0, 100);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(Drawn(10, 7, 7 * i, 100)) << i;
  EXPECT_TRUE(Drawn(208, 8, 28, 100));
  EXPECT_EQ(Painted(), 4 * 7 * 8 + 8 * 8);
}

TEST_F(TextTest, EmptyTextDrawsNothingAndLinesRunOffTheEdge) {
  font.SetPosition(33, 44);
  DrawText(font, "", 5, 5);
  DrawText(font, nullptr, 5, 5);
  EXPECT_EQ(Painted(), 0);
  EXPECT_EQ(font.X(), 33);
  EXPECT_EQ(font.Y(), 44);

  DrawText(font, "~~~", 309, 0);  // 6 + 5 columns fit, the third glyph is off screen
  EXPECT_TRUE(Drawn(625, 6, 309, 0));
  EXPECT_TRUE(Drawn(625, 5, 315, 0));
  EXPECT_EQ(Painted(), 11 * 8);
  EXPECT_EQ(font.X(), 321);
}

}  // namespace
}  // namespace kiv
