// A Player on a MemoryDisplay with a controlled clock, playing a file made
// by the animation writer. Frame k is filled with FrameValue(k) except its
// top-left pixel, which is transparent; the background is kBackgroundValue.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "anim/animation_writer.h"
#include "display/display.h"
#include "image/image.h"
#include "image/text.h"
#include "playback/fake_time.h"
#include "playback/frame_clock.h"
#include "playback/player.h"
#include "shell/key_state.h"
#include "shell/shell_flags.h"

namespace kiv::testing {

constexpr std::uint8_t kBackgroundValue = 70;
inline std::uint8_t FrameValue(std::uint32_t frame) {
  return static_cast<std::uint8_t>(128 + frame % 100);
}

struct FileSpec {
  std::int32_t width = 640;
  std::int32_t height = 8;
  float frameRate = 25.0f;
  std::uint32_t firstFrame = 0;
  std::uint32_t frameCount = 10;
  // Frames listed here repeat the picture of the frame before them.
  std::vector<std::uint32_t> repeats;
  bool markRepeats = false;
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetShellFlags();
    std::memset(KeyState::flags, 0, sizeof(KeyState::flags));
    path_ = std::string(::testing::TempDir()) + "player_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
            std::to_string(::getpid()) + ".kiv";
  }

  void TearDown() override {
    if (player_ != nullptr) {
      player_->Shutdown();
      delete player_;
      player_ = nullptr;
    }
    SetCurrentDisplay(nullptr);
    std::remove(path_.c_str());
    std::memset(KeyState::flags, 0, sizeof(KeyState::flags));
    ResetShellFlags();
    FrameWidth = 720;
    FrameHeight = 576;
    ScreenWidth = 800;
    ScreenHeight = 600;
  }

  void WriteFile(const FileSpec& spec) {
    spec_ = spec;
    std::vector<std::vector<std::uint8_t>> frames;
    const std::size_t size = static_cast<std::size_t>(spec.width) * spec.height;
    for (std::uint32_t i = 0; i < spec.frameCount; ++i) {
      const std::uint32_t number = spec.firstFrame + i;
      bool repeat = false;
      for (std::uint32_t r : spec.repeats) repeat = repeat || r == number;
      if (repeat && !frames.empty()) {
        frames.push_back(frames.back());
        continue;
      }
      std::vector<std::uint8_t> picture(size, FrameValue(number));
      picture[0] = 127;
      frames.push_back(std::move(picture));
    }
    AnimationWriteOptions options;
    options.version = 949;
    options.frameRate = spec.frameRate;
    options.firstFrame = spec.firstFrame;
    options.width = spec.width;
    options.height = spec.height;
    options.markRepeats = spec.markRepeats;
    std::string error;
    ASSERT_TRUE(WriteAnimation(path_.c_str(), options, frames,
                               std::vector<std::uint8_t>(size, kBackgroundValue), &error))
        << error;
  }

  // Probes the file, opens the screen, creates and initialises the Player and
  // starts the clock, as the start-up does.
  void Start() {
    ASSERT_LT(path_.size(), sizeof(AnimationPath));
    std::strcpy(AnimationPath, path_.c_str());
    ASSERT_TRUE(ProbeAnimationHeader(AnimationPath));
    display_ = std::make_unique<MemoryDisplay>();
    ASSERT_TRUE(display_->SetVideoMode(ScreenWidth, ScreenHeight, 8));
    SetCurrentDisplay(display_.get());
    player_ = new Player(nullptr);
    EXPECT_EQ(CurrentPlayer, nullptr);
    ASSERT_EQ(player_->Init(), 1);
    ASSERT_EQ(TheFrameClock().Init(100), 1);
  }

  // Start, then the Loading ticks (a slice of the file each, however slow
  // the machine) until the Player plays.
  void StartPlaying(const FileSpec& spec) {
    WriteFile(spec);
    Start();
    ASSERT_TRUE(TickUntilLoaded(*player_));
    ASSERT_EQ(player_->State, Player::kPlaying);
  }

  // One tick after ms milliseconds; returns Update's result.
  int Tick(DWORD ms = 10) {
    time_.Advance(ms);
    return player_->Update();
  }

  // Ticks 10 ms apart until the display flips; the number of ticks taken.
  int TicksToNextFlip(int limit = 1000) {
    const int flips = display_->FlipCount();
    for (int i = 1; i <= limit; ++i) {
      Tick();
      if (display_->FlipCount() != flips) return i;
    }
    return -1;
  }

  void Press(std::uint8_t scan) { KeyState::flags[scan] = 1; }

  // The frame picture in the frame area (a pixel away from the transparent one).
  std::uint8_t ShownPicture() const { return display_->PixelAt(41, 12); }
  // The top-left frame pixel: the background when the layer is on.
  std::uint8_t ShownCorner() const { return display_->PixelAt(40, 12); }

  // Rows 2 to 9 left of the version line, as DrawText draws text there.
  std::vector<std::uint8_t> StatusArea(MemoryDisplay& display) const {
    std::vector<std::uint8_t> area;
    for (int y = 2; y < 10; ++y) {
      for (int x = 0; x < std::min(500, display.Width()); ++x) area.push_back(display.PixelAt(x, y));
    }
    return area;
  }
  std::vector<std::uint8_t> ExpectedStatusArea(const char* text) const {
    MemoryDisplay reference;
    EXPECT_TRUE(reference.SetVideoMode(display_->Width(), display_->Height(), 8));
    Image font(nullptr, &reference);
    EXPECT_EQ(font.LoadSheetFromMemory(FontSheetData(), FontSheetSize()), 1);
    DrawText(font, text, 8, 2);
    reference.Flip();
    return StatusArea(reference);
  }

  FakeTime time_;
  FileSpec spec_;
  std::string path_;
  std::unique_ptr<MemoryDisplay> display_;
  Player* player_ = nullptr;
};

}  // namespace kiv::testing
