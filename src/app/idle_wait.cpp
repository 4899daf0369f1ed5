#include "app/idle_wait.h"

#include <cmath>
#include <limits>

#include "playback/player.h"

namespace kiv {

int IdleWait::Next(bool active, const PlayerView& player, double msUntilNextFrame) {
  if (!active) return -1;  // no tick ran: nothing to compare
  unchangedTicks_ = player == last_ ? unchangedTicks_ + 1 : 0;
  last_ = player;
  if (player.state == Player::kPaused) return unchangedTicks_ >= 2 ? -1 : 0;
  if (player.state != Player::kPlaying) return 0;
  // Negative (never due) and NaN alike: nothing comes by itself.
  if (!(msUntilNextFrame >= 0.0)) return -1;
  const double ms = std::ceil(msUntilNextFrame);
  return ms < static_cast<double>(std::numeric_limits<int>::max()) ? static_cast<int>(ms)
                                                                     : std::numeric_limits<int>::max();
}

}  // namespace kiv
