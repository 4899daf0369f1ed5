#include "app/idle_wait.h"

#include <cmath>
#include <limits>

#include "playback/player.h"

namespace kiv {

int IdleWaitMs(bool active, std::int32_t playerState, double msUntilNextFrame) {
  if (!active || playerState == Player::kPaused) return -1;
  if (playerState != Player::kPlaying) return 0;
  // Negative (never due) and NaN alike: nothing comes by itself.
  if (!(msUntilNextFrame >= 0.0)) return -1;
  const double ms = std::ceil(msUntilNextFrame);
  return ms < static_cast<double>(std::numeric_limits<int>::max()) ? static_cast<int>(ms)
                                                                     : std::numeric_limits<int>::max();
}

}  // namespace kiv
