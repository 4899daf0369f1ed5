// Counts whole fixed periods of the millisecond timer.
#pragma once

#include <cstdint>

namespace kiv {

class FrameClock {
 public:
  // rate in periods per second, 1 to 1000; 0 (nothing changed) otherwise.
  int Init(int rate);
  void Update();
  void Stop() {}

  std::uint32_t LastTickTime = 0;
  std::int32_t PeriodMs = 0;
  double ElapsedTicks = 0.0;
};

// The program-wide clock.
FrameClock& TheFrameClock();

}  // namespace kiv
