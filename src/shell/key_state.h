// Key flags kept by a keyboard hook on the main thread, indexed by the 7-bit
// PC scan code (set 1): 1 while the key is down. A press counts as down for
// at least one tick: a release that arrives before the tick has seen the
// press waits until TickDone, so a quick tap is never lost.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace kiv {

constexpr std::uint8_t kScanEsc = 0x01;
constexpr std::uint8_t kScan1 = 0x02;
constexpr std::uint8_t kScan2 = 0x03;
constexpr std::uint8_t kScan4 = 0x05;
constexpr std::uint8_t kScanL = 0x26;
constexpr std::uint8_t kScanUp = 0x48;
constexpr std::uint8_t kScanLeft = 0x4B;
constexpr std::uint8_t kScanRight = 0x4D;
constexpr std::uint8_t kScanDown = 0x50;
constexpr std::uint8_t kScanF12 = 0x58;

class KeyState {
 public:
  // Installs the thread keyboard hook; clears all flags. 0 on failure.
  static int Install();
  static void Remove();
  static LRESULT HookProcedure(int code, WPARAM wParam, LPARAM lParam);
  // Called once after each tick of the Player: applies the releases held
  // back for it, and gives the next tap queued behind one of them its tick.
  static void TickDone();

  static std::uint8_t flags[256];
  static HHOOK hook;

 private:
  static constexpr unsigned kScanCount = 128;
  // Per scan code: the key is down right now, as the keystrokes tell it.
  static std::uint8_t down_[kScanCount];
  // A press has set the flag since the last tick.
  static std::uint8_t fresh_[kScanCount];
  // That press was already released; the flag drops at TickDone.
  static std::uint8_t releasePending_[kScanCount];
  // Further presses after the pending release, each waiting for its tick.
  static std::uint8_t queuedPresses_[kScanCount];
};

}  // namespace kiv
