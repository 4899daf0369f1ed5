#include "app/idle_wait.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "playback/player.h"

namespace kiv {
namespace {

constexpr bool kActive = true;

struct Tick {
  bool active;
  PlayerView player;
  double msUntilNextFrame;
  int expected;
};

// Each case is a run of idle passes through one IdleWait.
TEST(IdleWaitTest, SleepsUntilTheNextChangeOfTheScreen) {
  const PlayerView paused{Player::kPaused, 3, 1};
  const PlayerView stepped{Player::kPaused, 4, 1};
  const PlayerView layerOff{Player::kPaused, 4, 0};
  const PlayerView playing{Player::kPlaying, 4, 1};
  const PlayerView loading{Player::kLoading, 0, 0};
  const double never = -1.0;
  const struct {
    const char* what;
    std::vector<Tick> ticks;
  } cases[] = {
      {"paused: two ticks settle the screen, then only input",
       {{kActive, paused, never, 0}, {kActive, paused, never, 0}, {kActive, paused, never, -1},
        {kActive, paused, never, -1}}},
      {"a step is decoded on its tick and shown on the next",
       {{kActive, paused, never, 0}, {kActive, paused, never, 0}, {kActive, paused, never, -1},
        {kActive, stepped, never, 0}, {kActive, stepped, never, 0}, {kActive, stepped, never, -1}}},
      {"the background layer switched counts as a change",
       {{kActive, stepped, never, 0}, {kActive, stepped, never, 0}, {kActive, layerOff, never, 0},
        {kActive, layerOff, never, 0}, {kActive, layerOff, never, -1}}},
      {"inactive: no tick ran, so no settling is counted",
       {{kActive, stepped, never, 0}, {false, stepped, never, -1}, {false, stepped, never, -1},
        {kActive, stepped, never, 0}, {kActive, stepped, never, -1}}},
      {"playing: until the next frame, whole milliseconds up",
       {{kActive, playing, 39.2, 40}, {kActive, playing, 0.0, 0}, {kActive, playing, 7.0, 7}}},
      {"playing at a rate that never makes a frame due",
       {{kActive, playing, never, -1}, {kActive, playing, std::nan(""), -1}}},
      {"a frame further away than an int of milliseconds",
       {{kActive, playing, 1e30, std::numeric_limits<int>::max()}}},
      {"loading reads on without sleeping", {{kActive, loading, never, 0}, {kActive, loading, never, 0}}},
      {"resumed from pause: the frame clock decides",
       {{kActive, paused, never, 0}, {kActive, paused, never, 0}, {kActive, playing, 12.0, 12}}},
  };
  for (const auto& c : cases) {
    IdleWait wait;
    for (std::size_t i = 0; i < c.ticks.size(); ++i) {
      const Tick& tick = c.ticks[i];
      EXPECT_EQ(wait.Next(tick.active, tick.player, tick.msUntilNextFrame), tick.expected) << c.what << ", pass " << i;
    }
  }
}

}  // namespace
}  // namespace kiv
