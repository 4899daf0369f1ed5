#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/display.h"

namespace kiv {
namespace {

TEST(MemoryDisplayTest, RowsFollowThePitchWiderThanTheWidth) {
  MemoryDisplay display(16);
  ASSERT_TRUE(display.SetVideoMode(100, 50, 8));
  EXPECT_EQ(display.Width(), 100);
  EXPECT_EQ(display.Height(), 50);
  EXPECT_EQ(display.Pitch(), 116);
  EXPECT_EQ(display.BitsPerPixel(), 8);
  ASSERT_EQ(display.Pixels().size(), 116u * 50u);
  std::uint8_t* pixels = display.Lock();
  ASSERT_NE(pixels, nullptr);
  pixels[3 * display.Pitch() + 5] = 9;
  pixels[49 * display.Pitch() + 99] = 4;
  EXPECT_EQ(display.PixelAt(5, 3), 9);
  EXPECT_EQ(display.PixelAt(99, 49), 4);
  EXPECT_EQ(display.PixelAt(100, 49), 0) << "outside the width";
  EXPECT_EQ(display.PixelAt(-1, 0), 0);
  EXPECT_EQ(display.PixelAt(0, 50), 0);
}

TEST(MemoryDisplayTest, ImpossibleSizesFailWithoutPixels) {
  for (auto [w, h] : {std::pair{0, 10}, std::pair{-5, 10}, std::pair{10, -1},
                      std::pair{1 << 30, 2}}) {
    MemoryDisplay display;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(display.SetVideoMode(w, h, 8));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Couldn't set " + std::to_string(w) + "x" + std::to_string(h) + "x8 video mode: ", 0), 0u) << err;
    EXPECT_EQ(display.Lock(), nullptr);
  }
}

TEST(MemoryDisplayTest, CountsOneLockPerFrameAndEveryFlip) {
  MemoryDisplay display;
  ASSERT_TRUE(display.SetVideoMode(8, 8, 8));
  std::uint8_t* first = display.Lock();
  EXPECT_TRUE(display.Unlock());
  EXPECT_EQ(display.Lock(), first);
  EXPECT_EQ(display.LockCount(), 1);
  display.Flip();
  EXPECT_EQ(display.FlipCount(), 1);
  display.Lock();
  EXPECT_EQ(display.LockCount(), 2);
  const std::uint8_t rgb[3] = {1, 2, 3};
  display.SetPalette(rgb, 0, 1);  // palette calls end the frame's hold too
  display.Lock();
  EXPECT_EQ(display.LockCount(), 3);
  display.Shutdown();
  display.Lock();
  EXPECT_EQ(display.LockCount(), 4);
}

}  // namespace
}  // namespace kiv
