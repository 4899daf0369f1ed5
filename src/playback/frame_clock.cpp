#include "playback/frame_clock.h"

#include "platform/win32.h"

namespace kiv {

namespace {
FrameClock g_frameClock;
}  // namespace

FrameClock& TheFrameClock() { return g_frameClock; }

int FrameClock::Init(int rate) {
  // Above 1000 the period would be 0 ms and Update would never return.
  if (rate < 1 || rate > 1000) {
    return 0;
  }
  ElapsedTicks = 0.0;
  LastTickTime = timeGetTime();
  PeriodMs = 1000 / rate;
  Update();
  return 1;
}

void FrameClock::Update() {
  // Before a successful Init there is no period to count.
  if (PeriodMs <= 0) {
    return;
  }
  const std::uint32_t now = timeGetTime();
  if (now < LastTickTime) {
    // The 32-bit timer wrapped: the period in progress is lost.
    LastTickTime = now;
  }
  const std::uint32_t period = static_cast<std::uint32_t>(PeriodMs);
  // Whole periods only, so the unfinished part stays in now - LastTickTime.
  while (now - LastTickTime >= period) {
    LastTickTime += period;
    ElapsedTicks += 1.0;
  }
}

}  // namespace kiv
