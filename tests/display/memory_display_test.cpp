#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"

namespace kiv {
namespace {

TEST(MemoryDisplayTest, NoPixelsBeforeAModeAndRefusedDepthsChangeNothing) {
  MemoryDisplay display(8);
  EXPECT_TRUE(display.Init());
  EXPECT_EQ(display.Lock(), nullptr);
  EXPECT_EQ(display.LockCount(), 0);
  for (int bits : {32, 24}) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(display.SetVideoMode(100, 50, bits));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              " *** Sorry, only 8 bit displays are supported!\n");
    EXPECT_EQ(display.Width(), 320);
    EXPECT_EQ(display.Height(), 240);
    EXPECT_EQ(display.Pitch(), 320);
    EXPECT_EQ(display.BitsPerPixel(), 255);
    EXPECT_EQ(display.Lock(), nullptr);
  }
}

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

// The palette contract is the same for both displays (the SDL one keeps its
// shadow copy without a surface, so no SDL is needed here).
template <typename T>
class PaletteTest : public ::testing::Test {
 protected:
  T display;
};
using Displays = ::testing::Types<SdlDisplay, MemoryDisplay>;
TYPED_TEST_SUITE(PaletteTest, Displays);

std::vector<std::uint8_t> Ramp(std::size_t entries, int seed) {
  std::vector<std::uint8_t> rgb(entries * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(seed + 5 * i);
  return rgb;
}

TYPED_TEST(PaletteTest, StartsAllZero) {
  std::vector<std::uint8_t> out(768, 0xee);
  EXPECT_TRUE(this->display.GetPalette(out.data(), 0, 256));
  EXPECT_EQ(out, std::vector<std::uint8_t>(768, 0));
}

TYPED_TEST(PaletteTest, FullRangeRoundTrips) {
  const std::vector<std::uint8_t> rgb = Ramp(256, 1);
  EXPECT_TRUE(this->display.SetPalette(rgb.data(), 0, 256));
  std::vector<std::uint8_t> out(768);
  EXPECT_TRUE(this->display.GetPalette(out.data(), 0, 256));
  EXPECT_EQ(out, rgb);
}

TYPED_TEST(PaletteTest, PartialRangeTakesTheArrayFromItsStart) {
  const std::vector<std::uint8_t> base = Ramp(256, 3);
  const std::vector<std::uint8_t> patch = Ramp(256, 100);
  this->display.SetPalette(base.data(), 0, 256);
  EXPECT_TRUE(this->display.SetPalette(patch.data(), 16, 32));
  std::vector<std::uint8_t> out(768);
  this->display.GetPalette(out.data(), 0, 256);
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* expected = (i >= 16 && i < 32) ? &patch[3 * (i - 16)] : &base[3 * i];
    ASSERT_EQ(std::memcmp(&out[3 * i], expected, 3), 0) << "entry " << i;
  }
  std::vector<std::uint8_t> part(16 * 3);
  this->display.GetPalette(part.data(), 16, 32);
  EXPECT_EQ(std::memcmp(part.data(), patch.data(), part.size()), 0);
}

TYPED_TEST(PaletteTest, EmptyRangesCopyNothing) {
  const std::vector<std::uint8_t> base = Ramp(256, 9);
  this->display.SetPalette(base.data(), 0, 256);
  const std::vector<std::uint8_t> other = Ramp(256, 77);
  EXPECT_TRUE(this->display.SetPalette(other.data(), 32, 16));
  EXPECT_TRUE(this->display.SetPalette(other.data(), 40, 40));
  std::vector<std::uint8_t> out(768);
  this->display.GetPalette(out.data(), 0, 256);
  EXPECT_EQ(out, base);
  std::vector<std::uint8_t> untouched(6, 0xab);
  EXPECT_TRUE(this->display.GetPalette(untouched.data(), 20, 20));
  EXPECT_TRUE(this->display.GetPalette(untouched.data(), 300, 2));
  EXPECT_EQ(untouched, std::vector<std::uint8_t>(6, 0xab));
}

TYPED_TEST(PaletteTest, RangesPastTheLastEntryAreClamped) {
  // Exactly sized buffers: a copy past entry 255 would overrun them.
  const std::vector<std::uint8_t> tail = Ramp(6, 50);
  EXPECT_TRUE(this->display.SetPalette(tail.data(), 250, 0xffffffffu));
  std::vector<std::uint8_t> out(6 * 3);
  EXPECT_TRUE(this->display.GetPalette(out.data(), 250, 1000));
  EXPECT_EQ(std::memcmp(out.data(), tail.data(), out.size()), 0);
  std::vector<std::uint8_t> none(1, 0x5a);
  EXPECT_TRUE(this->display.SetPalette(none.data(), 256, 300));
  EXPECT_TRUE(this->display.GetPalette(none.data(), 256, 300));
  EXPECT_EQ(none[0], 0x5a);
}

}  // namespace
}  // namespace kiv
