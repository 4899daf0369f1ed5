#include "playback/composition.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "anim/animation_file.h"
#include "display/display.h"

namespace kiv {
namespace {

// Puts a MemoryDisplay in place and a frame size into the size globals.
class CompositionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetCurrentDisplay(nullptr);
    FrameWidth = 720;
    FrameHeight = 576;
    ScreenWidth = 800;
    ScreenHeight = 600;
  }

  // A screen for frames of width x height, every byte first set to 0xEE.
  MemoryDisplay& Screen(std::int32_t width, std::int32_t height, std::int32_t extraPitch = 0,
                        std::int32_t screenWidth = -1, std::int32_t screenHeight = -1) {
    FrameWidth = width;
    FrameHeight = height;
    ScreenWidth = screenWidth < 0 ? width + 80 : screenWidth;
    ScreenHeight = screenHeight < 0 ? height + 24 : screenHeight;
    display_ = std::make_unique<MemoryDisplay>(extraPitch);
    EXPECT_TRUE(display_->SetVideoMode(ScreenWidth, ScreenHeight, 8));
    SetCurrentDisplay(display_.get());
    std::uint8_t* pixels = display_->Lock();
    std::memset(pixels, 0xEE, display_->Pitch() * ScreenHeight);
    display_->Unlock();
    return *display_;
  }

  std::unique_ptr<MemoryDisplay> display_;
};

std::vector<std::uint8_t> Numbered(std::size_t size, int start) {
  std::vector<std::uint8_t> v(size);
  for (std::size_t i = 0; i < size; ++i) {
    v[i] = static_cast<std::uint8_t>(start + i % 120);
  }
  return v;
}

void Compose(const std::vector<std::uint8_t>& frame, const std::vector<std::uint8_t>& background,
             bool layer) {
  const ComposeSource source{frame.data(), frame.size(), background.data(), background.size(),
                             layer ? 1 : 0};
  ComposeScreen(source, 0, 0, FrameWidth, FrameHeight);
}

TEST_F(CompositionTest, FramePlacedAtFrameAreaRowsByPitchAndBorderCleared) {
  for (std::int32_t extra : {0, 13}) {
    for (std::int32_t width = 1; width <= 9; ++width) {
      MemoryDisplay& screen = Screen(width, 5, extra);
      const auto frame = Numbered(width * 5, 1);
      ClearScreen();
      Compose(frame, {}, false);
      const std::int32_t pitch = screen.Pitch();
      ASSERT_EQ(pitch, ScreenWidth + extra);
      const auto& pixels = screen.Pixels();
      ASSERT_GE(pixels.size(), static_cast<std::size_t>(pitch * ScreenHeight));
      for (std::int32_t y = 0; y < ScreenHeight; ++y) {
        for (std::int32_t x = 0; x < pitch; ++x) {
          const bool inside = x >= 40 && x < 40 + width && y >= 12 && y < 12 + 5;
          const std::uint8_t expected = inside ? frame[(y - 12) * width + (x - 40)] : 0;
          ASSERT_EQ(pixels[y * pitch + x], expected)
              << "width " << width << " pitch " << pitch << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST_F(CompositionTest, FullSizeFrameOccupiesItsColumnsAndRows) {
  MemoryDisplay& screen = Screen(720, 576);
  EXPECT_EQ(ScreenWidth, 800);
  const std::vector<std::uint8_t> frame(720 * 576, 200);
  ClearScreen();
  Compose(frame, {}, false);
  EXPECT_EQ(screen.PixelAt(39, 12), 0);
  EXPECT_EQ(screen.PixelAt(40, 12), 200);
  EXPECT_EQ(screen.PixelAt(759, 587), 200);
  EXPECT_EQ(screen.PixelAt(760, 587), 0);
  EXPECT_EQ(screen.PixelAt(759, 588), 0);
  EXPECT_EQ(screen.PixelAt(40, 11), 0);
}

TEST_F(CompositionTest, BackgroundShowsThroughIndex127Only) {
  MemoryDisplay& screen = Screen(256, 2);
  std::vector<std::uint8_t> frame(256 * 2);
  for (int i = 0; i < 256; ++i) {
    frame[i] = static_cast<std::uint8_t>(i);  // every value, 0 included
    frame[256 + i] = 127;
  }
  const std::vector<std::uint8_t> background(256 * 2, 77);
  Compose(frame, background, true);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(screen.PixelAt(40 + i, 12), i == 127 ? 77 : i) << i;
    EXPECT_EQ(screen.PixelAt(40 + i, 13), 77);
  }
  // Without the layer, 127 is drawn as itself.
  Compose(frame, background, false);
  EXPECT_EQ(screen.PixelAt(40 + 127, 12), 127);
  EXPECT_EQ(screen.PixelAt(40 + 5, 13), 127);
}

TEST_F(CompositionTest, EmptyOrOversizedFramesDrawNothing) {
  MemoryDisplay& screen = Screen(4, 4);
  const std::vector<std::uint8_t> small(16, 9);
  const std::vector<std::uint8_t> before = screen.Pixels();
  for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {-3, 4}, {5, 4}}) {
    FrameWidth = w;
    FrameHeight = h;
    const ComposeSource source{small.data(), small.size(), small.data(), small.size(), 1};
    ComposeScreen(source, 0, 0, w, h);
    EXPECT_EQ(screen.Pixels(), before) << w << "x" << h;
  }
  // A rectangle outside the frame draws nothing either.
  FrameWidth = FrameHeight = 4;
  const ComposeSource source{small.data(), small.size(), nullptr, 0, 0};
  ComposeScreen(source, 2, 0, 3, 4);
  ComposeScreen(source, 0, -1, 4, 4);
  EXPECT_EQ(screen.Pixels(), before);
  // With the layer on, the background buffer must hold the frame too.
  const ComposeSource noBackground{small.data(), small.size(), small.data(), 15, 1};
  ComposeScreen(noBackground, 0, 0, 4, 4);
  EXPECT_EQ(screen.Pixels(), before);
}

TEST_F(CompositionTest, FrameLargerThanTheScreenIsClipped) {
  // A 10 x 10 frame on a 45 x 15 screen: 5 columns and 3 rows fit.
  MemoryDisplay& screen = Screen(10, 10, 0, 45, 15);
  const auto frame = Numbered(100, 1);
  const auto background = Numbered(100, 130);
  Compose(frame, background, true);
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 45; ++x) {
      const bool inside = x >= 40 && y >= 12;
      const int expected = inside ? frame[(y - 12) * 10 + (x - 40)] : 0xEE;
      EXPECT_EQ(screen.PixelAt(x, y), expected) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace kiv
