// How long the desktop's main loop may sleep after a pass that found nothing
// to do.
#pragma once

#include <cstdint>

namespace kiv {

// Milliseconds until the Player has something to show by itself, or -1 when
// only an input can change the screen: paused, inactive (no ticks run), or a
// rate that never makes a frame due. 0 while loading (the next tick reads on).
// `msUntilNextFrame` is the Player's own figure while it plays.
int IdleWaitMs(bool active, std::int32_t playerState, double msUntilNextFrame);

}  // namespace kiv
