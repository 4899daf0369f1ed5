// The interface of the module that the main loop ticks (the Player).
#pragma once

#include <cstdint>

namespace kiv {

class AppModule {
 public:
  virtual ~AppModule() = default;
  virtual int Init() = 0;
  // One tick; 0 when the program is to end.
  virtual int Update() = 0;
  virtual int Shutdown() = 0;

  // Re-entrancy guard owned by DispatchTick.
  std::int32_t UpdateBusy = 0;
};

}  // namespace kiv
