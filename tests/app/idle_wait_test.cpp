#include "app/idle_wait.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "playback/player.h"

namespace kiv {
namespace {

// Each case is a run of idle passes through one IdleWait: active, the Player
// as the pass's tick left it, its time to the next frame, the expected wait.
struct Pass {
  bool active;
  PlayerView player;
  double msUntilNextFrame;
  int expected;
};

TEST(IdleWaitTest, SleepsUntilTheNextChangeOfTheScreen) {
  const PlayerView paused{Player::kPaused, 3, 1}, stepped{Player::kPaused, 4, 1}, layerOff{Player::kPaused, 4, 0},
      playing{Player::kPlaying, 4, 1}, loading{Player::kLoading, 0, 0};
  const double never = -1.0;
  const struct {
    const char* what;
    std::vector<Pass> passes;
  } cases[] = {
      {"paused: two ticks settle the screen, then only input wakes",
       {{true, paused, never, 0}, {true, paused, never, 0}, {true, paused, never, -1}, {true, paused, never, -1}}},
      {"a step is decoded on its tick and shown on the next",
       {{true, paused, never, 0}, {true, paused, never, 0}, {true, paused, never, -1}, {true, stepped, never, 0},
        {true, stepped, never, 0}, {true, stepped, never, -1}}},
      {"the background layer switched is a change",
       {{true, stepped, never, 0}, {true, stepped, never, 0}, {true, layerOff, never, 0}, {true, layerOff, never, 0},
        {true, layerOff, never, -1}}},
      {"inactive passes run no tick and settle nothing",
       {{true, stepped, never, 0}, {false, stepped, never, -1}, {false, stepped, never, -1}, {true, stepped, never, 0},
        {true, stepped, never, -1}}},
      {"playing: until the next frame, in whole milliseconds up",
       {{true, playing, 39.2, 40}, {true, playing, 0.0, 0}, {true, playing, 7.0, 7},
        {true, playing, 1e30, std::numeric_limits<int>::max()}}},
      {"a rate that never makes a frame due", {{true, playing, never, -1}, {true, playing, std::nan(""), -1}}},
      {"loading reads on", {{true, loading, never, 0}, {true, loading, never, 0}, {true, loading, never, 0}}},
      {"resumed: the frame clock decides", {{true, paused, never, 0}, {true, playing, 12.0, 12}}},
  };
  for (const auto& c : cases) {
    IdleWait wait;
    for (std::size_t i = 0; i < c.passes.size(); ++i) {
      const Pass& pass = c.passes[i];
      EXPECT_EQ(wait.Next(pass.active, pass.player, pass.msUntilNextFrame), pass.expected) << c.what << ", pass " << i;
    }
  }
}

}  // namespace
}  // namespace kiv
