// How long the desktop's main loop may sleep after a pass that found nothing
// to do.
#pragma once

#include <cstdint>

namespace kiv {

// What of the Player decides its next screen.
struct PlayerView {
  std::int32_t state;
  std::uint32_t frame;
  std::int32_t backgroundLayer;
  bool operator==(const PlayerView&) const = default;
};

class IdleWait {
 public:
  // Milliseconds until the Player has something to show by itself, or -1
  // when only an input can change the screen: inactive (no ticks run),
  // paused and settled, or playing at a rate that never makes a frame due.
  // 0 while loading, and while a paused screen is still settling: a frame
  // picked on one tick is decoded on it and shown on the next, so a Player
  // that a tick changed needs two more ticks before its screen holds still.
  // Call once per idle pass, after its tick, with the Player as the tick
  // left it; `msUntilNextFrame` is the Player's own figure while it plays.
  int Next(bool active, const PlayerView& player, double msUntilNextFrame);

 private:
  PlayerView last_{};
  int unchangedTicks_ = 0;
};

}  // namespace kiv
