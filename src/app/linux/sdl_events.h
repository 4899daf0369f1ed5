// Turns SDL's activation and quit events into the application's flags.
#pragma once

#include "platform/linux/linux_platform.h"

namespace kiv {

constexpr std::uint8_t kEventActive = 1;
constexpr std::uint8_t kEventQuit = 12;
constexpr std::uint8_t kAppActiveBit = 0x04;

// Drains SDL's event queue through HandleSdlEvent.
void PumpSdlEvents();
void HandleSdlEvent(const platform::Event& event);

}  // namespace kiv
