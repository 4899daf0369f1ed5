#include "playback/player.h"

#include <cmath>
#include <fstream>
#include <limits>

#include "playback/player_fixture.h"

// GCC 12 warns about members left to their default initialisers in
// designated initialisers; the file specs rely on those defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kiv {
namespace {

using testing::FileSpec;
using testing::FrameValue;
using testing::kBackgroundValue;
using testing::PlayerTest;

TEST_F(PlayerTest, InitPreparesScreenPaletteAndLoadingState) {
  WriteFile(FileSpec{});
  Start();
  EXPECT_EQ(CurrentPlayer, player_);
  EXPECT_EQ(player_->UpdateBusy, 0);
  EXPECT_EQ(player_->State, Player::kLoading);
  EXPECT_EQ(player_->FrameRate, 12.5f);
  EXPECT_EQ(display_->FlipCount(), 2);
  ASSERT_NE(player_->Font, nullptr);
  // Entries 1 to 63 come from the font sheet, the rest from the ramps.
  EXPECT_EQ(std::memcmp(display_->Palette(), player_->ScreenPalette, 768), 0);
  EXPECT_EQ(std::memcmp(player_->ScreenPalette + 3, player_->Font->Palette() + 3, 63 * 3), 0);
  EXPECT_EQ(player_->ScreenPalette[127 * 3], 255);
  EXPECT_EQ(player_->ScreenPalette[128 * 3 + 1], 126);
}

TEST_F(PlayerTest, LoadStartsAtFirstFrameWithItsPictureReady) {
  StartPlaying(FileSpec{.frameRate = 25.0f, .firstFrame = 10, .frameCount = 10});
  EXPECT_EQ(player_->CurrentFrame, 10u);
  EXPECT_EQ(player_->BackgroundLayer, 1);
  EXPECT_EQ(TicksToNextFlip(), 4);
  EXPECT_EQ(ShownPicture(), FrameValue(10));
  EXPECT_EQ(ShownCorner(), kBackgroundValue);
  EXPECT_EQ(StatusArea(*display_), ExpectedStatusArea("Frame:   11/  10, FPS = 25.00"));
  // Playing cycles through 10 to 19 only, never an empty entry below 10.
  for (std::uint32_t n = 11; n < 35; ++n) {
    ASSERT_EQ(TicksToNextFlip(), 4);
    EXPECT_EQ(ShownPicture(), FrameValue(10 + (n - 10) % 10)) << n;
  }
}

TEST_F(PlayerTest, FramesFallDueByRate) {
  for (auto [rate, ticks] : {std::pair{12.5f, 8}, {25.0f, 4}}) {
    StartPlaying(FileSpec{.frameRate = rate});
    for (std::uint32_t frame = 0; frame < 12; ++frame) {
      ASSERT_EQ(TicksToNextFlip(), ticks) << rate;
      EXPECT_EQ(ShownPicture(), FrameValue(frame % 10)) << rate;
      EXPECT_EQ(TickIdle, 0);
    }
    Tick();
    EXPECT_EQ(TickIdle, 1);  // nothing due: the main loop may sleep
    player_->Shutdown();
    delete player_;
    player_ = nullptr;
  }
}

// A page that sleeps until the next frame must wake neither late (a frame
// shown late) nor early (a wasted wake-up): a tick 1 ms before the time
// given shows nothing, a tick at it shows the frame.
TEST_F(PlayerTest, TimeToTheNextFrameIsWhenATickShowsIt) {
  for (float rate : {25.0f, 30.0f, 12.5f, 7.3f}) {
    StartPlaying(FileSpec{.frameRate = rate});
    for (int frame = 0; frame < 12; ++frame) {
      const double wait = player_->MsUntilNextFrame();
      ASSERT_GT(wait, 0.0) << rate;
      const int flips = display_->FlipCount();
      Tick(static_cast<DWORD>(wait) - 1);
      ASSERT_EQ(display_->FlipCount(), flips) << rate << " frame " << frame;
      // Part of a period has gone by since the clock last counted one.
      ASSERT_EQ(player_->MsUntilNextFrame(), 1.0) << rate << " frame " << frame;
      Tick(1);
      ASSERT_EQ(display_->FlipCount(), flips + 1) << rate << " frame " << frame;
    }
    time_.Advance(1000);  // held up: a frame is overdue
    EXPECT_EQ(player_->MsUntilNextFrame(), 0.0) << rate;
    player_->Shutdown();
    delete player_;
    player_ = nullptr;
  }
  StartPlaying(FileSpec{});
  for (float rate : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()}) {
    player_->FrameRate = rate;
    EXPECT_LT(player_->MsUntilNextFrame(), 0.0) << rate;
  }
}

TEST_F(PlayerTest, RateThatDoesNotDivideHundredKeepsItsAverage) {
  StartPlaying(FileSpec{.frameRate = 30.0f});
  int flips = 0;
  for (int elapsed = 0; elapsed < 3000;) {
    const int gap = TicksToNextFlip(10);
    ASSERT_TRUE(gap == 3 || gap == 4) << gap;
    elapsed += gap;
    if (elapsed <= 3000) ++flips;
  }
  EXPECT_NEAR(flips, 900, 1);
}

TEST_F(PlayerTest, HeldUpProgramShowsOneFrameAndDropsTheSurplus) {
  StartPlaying(FileSpec{.frameRate = 12.5f});
  const int flips = display_->FlipCount();
  EXPECT_EQ(Tick(1030), 1);  // 103 ticks: 12 whole intervals and 7 ticks
  EXPECT_EQ(display_->FlipCount(), flips + 1);
  EXPECT_EQ(player_->CurrentFrame, 1u);
  EXPECT_DOUBLE_EQ(TheFrameClock().ElapsedTicks, 7.0);
  Tick(0);
  EXPECT_EQ(display_->FlipCount(), flips + 1);
  EXPECT_EQ(TicksToNextFlip(), 1);  // the carried 7 ticks count
  EXPECT_EQ(player_->CurrentFrame, 2u);
}

TEST_F(PlayerTest, EscPausesAndThePausedScreenShowsTheFrameItNames) {
  StartPlaying(FileSpec{.frameRate = 25.0f});
  for (int i = 0; i < 3; ++i) TicksToNextFlip();
  const std::uint32_t current = player_->CurrentFrame;  // decoded, not yet shown
  const int flips = display_->FlipCount();
  Press(kScanEsc);
  EXPECT_EQ(Tick(), 1);  // not due: pause without drawing
  EXPECT_EQ(player_->State, Player::kPaused);
  EXPECT_EQ(KeyState::flags[kScanEsc], 0);
  EXPECT_EQ(display_->FlipCount(), flips);
  EXPECT_EQ(Tick(), 1);
  EXPECT_EQ(display_->FlipCount(), flips + 1);
  EXPECT_EQ(TickIdle, 1);
  EXPECT_EQ(TheFrameClock().ElapsedTicks, 0.0);
  EXPECT_EQ(player_->CurrentFrame, current);
  EXPECT_EQ(ShownPicture(), FrameValue(current));
  char text[96];
  FormatStatusLine(text, sizeof(text), current, 0, 9, 25.0f);
  EXPECT_EQ(StatusArea(*display_), ExpectedStatusArea(text));
}

TEST_F(PlayerTest, EscOnADueTickPausesOnTheFrameJustNamed) {
  StartPlaying(FileSpec{.frameRate = 25.0f});
  TicksToNextFlip();
  Tick();
  Tick();
  Tick();
  Press(kScanEsc);
  Tick();  // due: shows frame 1, advances to 2, then pauses
  EXPECT_EQ(player_->State, Player::kPaused);
  EXPECT_EQ(player_->CurrentFrame, 2u);
  Tick();
  EXPECT_EQ(ShownPicture(), FrameValue(2));
}

TEST_F(PlayerTest, PausedKeysStepWithWrapAroundAtBothEnds) {
  StartPlaying(FileSpec{.frameRate = 25.0f, .firstFrame = 5, .frameCount = 4});
  Press(kScanEsc);
  Tick();
  ASSERT_EQ(player_->State, Player::kPaused);
  ASSERT_EQ(player_->CurrentFrame, 5u);

  struct Step {
    std::uint8_t key;
    std::uint32_t expected;
  };
  // 5..8: back from the first wraps to the last, forward from the last to the first.
  for (const Step& step : {Step{kScanLeft, 8}, Step{kScanRight, 5}, Step{kScanUp, 8},
                           Step{kScan1, 7}, Step{kScan2, 8}, Step{kScanDown, 5},
                           Step{kScanRight, 6}}) {
    Press(step.key);
    Tick();
    EXPECT_EQ(player_->CurrentFrame, step.expected) << int(step.key);
    EXPECT_EQ(KeyState::flags[step.key], 0);
    Tick();  // decodes the new frame
    Tick();
    EXPECT_EQ(ShownPicture(), FrameValue(step.expected));
  }
  // Every key of a group is cleared; both groups together cancel out.
  Press(kScan1);
  Press(kScanUp);
  Press(kScanRight);
  Tick();
  EXPECT_EQ(player_->CurrentFrame, 6u);
  for (std::uint8_t key : {kScan1, kScanLeft, kScanUp, kScan2, kScanRight, kScanDown}) {
    EXPECT_EQ(KeyState::flags[key], 0);
  }
}

TEST_F(PlayerTest, KeyFourResumesOneFullIntervalLater) {
  StartPlaying(FileSpec{.frameRate = 25.0f});
  Press(kScanEsc);
  Tick();
  for (int i = 0; i < 20; ++i) Tick();  // paused time does not pile up
  Press(kScan4);
  Tick();
  EXPECT_EQ(player_->State, Player::kPlaying);
  EXPECT_EQ(KeyState::flags[kScan4], 0);
  EXPECT_EQ(TicksToNextFlip(), 4);
}

TEST_F(PlayerTest, KeyLTogglesTheLayerOnTheNextTick) {
  StartPlaying(FileSpec{.frameRate = 25.0f});
  TicksToNextFlip();
  EXPECT_EQ(ShownCorner(), kBackgroundValue);
  Press(kScanL);  // ignored while playing
  TicksToNextFlip();
  EXPECT_EQ(player_->BackgroundLayer, 1);
  KeyState::flags[kScanL] = 0;

  Press(kScanEsc);
  Tick();
  Press(kScanL);
  Tick();
  EXPECT_EQ(player_->BackgroundLayer, 0);
  EXPECT_EQ(KeyState::flags[kScanL], 0);
  EXPECT_EQ(ShownCorner(), kBackgroundValue);  // drawn before the toggle
  Tick();
  EXPECT_EQ(ShownCorner(), 127);
  Press(kScanL);
  Tick();
  Tick();
  EXPECT_EQ(ShownCorner(), kBackgroundValue);
}

TEST_F(PlayerTest, EscWhilePausedEndsWithoutFlipping) {
  StartPlaying(FileSpec{});
  Press(kScanEsc);
  Tick();
  Tick();
  const int flips = display_->FlipCount();
  Press(kScanEsc);
  EXPECT_EQ(Tick(), 0);
  EXPECT_EQ(display_->FlipCount(), flips);
  EXPECT_EQ(KeyState::flags[kScanEsc], 1);
}

TEST_F(PlayerTest, F12AndQuitEndPlaybackInEveryState) {
  for (int state : {Player::kLoading, Player::kPlaying, Player::kPaused}) {
    for (bool quit : {false, true}) {
      WriteFile(FileSpec{});
      Start();
      if (state != Player::kLoading) {
        ASSERT_TRUE(TickUntilLoaded(*player_));
      }
      if (state == Player::kPaused) {
        Press(kScanEsc);
        Tick();
      }
      ASSERT_EQ(player_->State, state);
      if (quit) {
        QuitRequested = 1;
      } else {
        Press(kScanF12);
      }
      const int flips = display_->FlipCount();
      EXPECT_EQ(Tick(), 0) << state;
      EXPECT_EQ(player_->Finished, 1);
      // Latched: ends again with the key up.
      KeyState::flags[kScanF12] = 0;
      QuitRequested = 0;
      EXPECT_EQ(Tick(), 0);
      EXPECT_EQ(display_->FlipCount(), flips);
      player_->Shutdown();
      delete player_;
      player_ = nullptr;
    }
  }
}

TEST_F(PlayerTest, StatusLineTexts) {
  char text[96];
  FormatStatusLine(text, sizeof(text), 0, 0, 99, 25.0f);
  EXPECT_STREQ(text, "Frame:    1/ 100, FPS = 25.00");
  FormatStatusLine(text, sizeof(text), 12, 10, 19, 12.5f);
  EXPECT_STREQ(text, "Frame:   13/  10, FPS = 12.50");
  FormatStatusLine(text, sizeof(text), 9998, 0, 9998, 7.0f);
  EXPECT_STREQ(text, "Frame: 9999/9999, FPS = 7.00");

  StartPlaying(FileSpec{.frameRate = 25.0f, .firstFrame = 10, .frameCount = 10});
  Press(kScanEsc);
  Tick();
  Press(kScanRight);
  Tick();
  Press(kScanRight);
  Tick();
  Tick();
  EXPECT_EQ(player_->CurrentFrame, 12u);
  EXPECT_EQ(StatusArea(*display_), ExpectedStatusArea("Frame:   13/  10, FPS = 25.00"));
  EXPECT_NE(StatusArea(*display_), ExpectedStatusArea("Frame:   12/  10, FPS = 25.00"));
}

TEST_F(PlayerTest, RepeatedFramesShareAChunkReleasedOnce) {
  StartPlaying(FileSpec{.frameRate = 25.0f, .frameCount = 6, .repeats = {2, 3},
                        .markRepeats = true});
  EXPECT_EQ(player_->RepeatFlags[2], 1);
  EXPECT_EQ(player_->Frames[2], player_->Frames[1]);
  EXPECT_EQ(player_->Frames[3], player_->Frames[1]);
  EXPECT_NE(player_->Frames[4], player_->Frames[1]);
  const std::uint8_t expected[] = {FrameValue(0), FrameValue(1), FrameValue(1),
                                   FrameValue(1), FrameValue(4), FrameValue(5)};
  for (std::uint8_t value : expected) {
    TicksToNextFlip();
    EXPECT_EQ(ShownPicture(), value);
  }
  EXPECT_EQ(player_->Shutdown(), 1);
  for (int f = 0; f < 6; ++f) EXPECT_EQ(player_->Frames[f], nullptr);
  EXPECT_EQ(player_->BackgroundChunk, nullptr);
  EXPECT_EQ(player_->Font, nullptr);
  EXPECT_EQ(player_->Shutdown(), 1);  // a second Shutdown frees nothing twice
}

TEST_F(PlayerTest, FailedLoadIsReported) {
  WriteFile(FileSpec{});
  Start();
  // Cut the file inside its frame chunks after the probe.
  std::ifstream in(path_, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  in.close();
  std::ofstream(path_, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size() - 40);
  const int flips = display_->FlipCount();
  EXPECT_FALSE(player_->LoadFailed());
  // The Loading ticks read a slice each until the cut shows.
  EXPECT_FALSE(TickUntilLoaded(*player_));
  EXPECT_TRUE(player_->LoadFailed());
  EXPECT_EQ(Tick(), 0);
  EXPECT_EQ(display_->FlipCount(), flips);
}

TEST_F(PlayerTest, LoadRunsInSlicesThatAQuitCanEnd) {
  for (bool quit : {false, true}) {
    WriteFile(FileSpec{.frameCount = 6, .repeats = {3}, .markRepeats = true});
    Start();
    player_->SetLoadSlice(std::chrono::steady_clock::duration::zero());
    const int flips = display_->FlipCount();
    // Header, background, repeat flags, then frames: still loading, nothing
    // drawn, and no idle pause to slow the load down.
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(Tick(), 1);
      ASSERT_EQ(player_->State, Player::kLoading);
      EXPECT_EQ(TickIdle, 0);
    }
    EXPECT_EQ(display_->FlipCount(), flips);
    if (quit) {
      QuitRequested = 1;
      EXPECT_EQ(Tick(), 0);
      EXPECT_FALSE(player_->LoadFailed());  // a quit, not a bad file
    } else {
      int ticks = 5;
      while (player_->State == Player::kLoading && ticks < 100) {
        ASSERT_EQ(Tick(), 1);
        ++ticks;
      }
      EXPECT_EQ(ticks, 3 + 6 + 1);
      EXPECT_EQ(player_->Frames[3], player_->Frames[2]);
      for (std::uint32_t frame : {0u, 1u, 2u, 2u, 4u, 5u}) {
        ASSERT_GT(TicksToNextFlip(), 0);
        EXPECT_EQ(ShownPicture(), FrameValue(frame));
      }
    }
    // The partial tables are freed as usual (the sanitizer build checks).
    player_->Shutdown();
    delete player_;
    player_ = nullptr;
    QuitRequested = 0;
  }
}

TEST_F(PlayerTest, RateWithoutAFiniteIntervalNeverFallsDue) {
  StartPlaying(FileSpec{.frameRate = 0.0f});
  for (float rate : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()}) {
    player_->FrameRate = rate;
    const int flips = display_->FlipCount();
    for (int i = 0; i < 50; ++i) Tick(100);
    EXPECT_EQ(display_->FlipCount(), flips) << rate;
    EXPECT_EQ(TickIdle, 1);
  }
  // Esc still pauses.
  Press(kScanEsc);
  Tick();
  EXPECT_EQ(player_->State, Player::kPaused);
}

TEST_F(PlayerTest, HugeRateDropsItsSurplusWithoutSpinning) {
  StartPlaying(FileSpec{.frameRate = 25.0f});
  player_->FrameRate = 3.0e38f;
  const int flips = display_->FlipCount();
  Tick(100000);
  EXPECT_EQ(display_->FlipCount(), flips + 1);
  EXPECT_LT(TheFrameClock().ElapsedTicks, 100.0 / 3.0e38);
}

TEST_F(PlayerTest, LongRunShowsTheExpectedNumberOfFrames) {
  StartPlaying(FileSpec{.width = 16, .height = 8, .frameRate = 30.0f, .frameCount = 7});
  const int start = display_->FlipCount();
  // Irregular steps of 7 ms: frames fall due on the clock, not on the caller.
  const std::uint64_t totalMs = 100000ull * 1000 / 30 + 100;
  std::uint64_t elapsed = 0;
  while (elapsed + 7 <= totalMs) {
    Tick(7);
    elapsed += 7;
  }
  const std::int64_t expected = static_cast<std::int64_t>((elapsed / 10) * 30 / 100);
  const std::int64_t shown = display_->FlipCount() - start;
  EXPECT_NEAR(static_cast<double>(shown), static_cast<double>(expected), 1.0);
  EXPECT_GE(shown, 100000);
  EXPECT_EQ(player_->CurrentFrame, static_cast<std::uint32_t>(shown % 7));
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

TEST_F(PlayerTest, DecodingStopsAtTheFrameSize) {
  StartPlaying(FileSpec{.width = 16, .height = 8, .frameRate = 25.0f, .frameCount = 2});
  // A chunk that expands past the 16 x 8 picture must not write beyond it.
  std::vector<std::uint8_t> tooBig(16 * 8 + 64);
  for (std::size_t i = 0; i < tooBig.size(); ++i) tooBig[i] = static_cast<std::uint8_t>(200 + i % 2);
  ASSERT_TRUE(player_->Frames[1]->Encode(tooBig.data(), static_cast<std::int32_t>(tooBig.size())));
  std::memset(player_->FrameBuffer, 0x11, 16 * 8 + 64);
  TicksToNextFlip();  // shows frame 0, decodes frame 1
  EXPECT_EQ(player_->FrameBuffer[0], 200);  // the tokens that fit are expanded
  for (int i = 16 * 8; i < 16 * 8 + 64; ++i) ASSERT_EQ(player_->FrameBuffer[i], 0x11) << i;
}

}  // namespace
}  // namespace kiv
