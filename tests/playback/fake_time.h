// A controlled millisecond timer for the clock and the Player.
#pragma once

#include "platform/platform.h"

namespace kiv::testing {

inline DWORD g_fakeNow = 0;
inline DWORD FakeNow() { return g_fakeNow; }

// Installs the fake timer for the lifetime of the object.
class FakeTime {
 public:
  explicit FakeTime(DWORD start = 1000) {
    g_fakeNow = start;
    previous_ = platform::SetTimeSource(&FakeNow);
  }
  ~FakeTime() { platform::SetTimeSource(previous_); }
  void Advance(DWORD ms) { g_fakeNow += ms; }
  void Set(DWORD now) { g_fakeNow = now; }

 private:
  platform::TimeSource previous_;
};

}  // namespace kiv::testing
