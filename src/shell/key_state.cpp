#include "shell/key_state.h"

#include <cstring>

namespace kiv {

std::uint8_t KeyState::flags[256] = {};
HHOOK KeyState::hook = nullptr;
std::uint8_t KeyState::down_[kScanCount] = {};
std::uint8_t KeyState::fresh_[kScanCount] = {};
std::uint8_t KeyState::releasePending_[kScanCount] = {};
std::uint8_t KeyState::queuedPresses_[kScanCount] = {};

namespace {
// More taps than this within one tick are dropped rather than replayed for
// ever; real typing never gets near it.
constexpr std::uint8_t kMaxQueuedPresses = 32;
}  // namespace

int KeyState::Install() {
  // A hook on this thread only: keystrokes reach it from inside the main
  // loop's message retrieval.
  hook = SetWindowsHookExA(WH_KEYBOARD, &KeyState::HookProcedure, nullptr, GetCurrentThreadId());
  if (hook == nullptr) {
    return 0;
  }
  std::memset(flags, 0, sizeof(flags));
  std::memset(down_, 0, sizeof(down_));
  std::memset(fresh_, 0, sizeof(fresh_));
  std::memset(releasePending_, 0, sizeof(releasePending_));
  std::memset(queuedPresses_, 0, sizeof(queuedPresses_));
  return 1;
}

void KeyState::Remove() {
  if (hook != nullptr) {
    UnhookWindowsHookEx(hook);
    // Forget the handle so that a second Remove cannot unhook a stale one.
    hook = nullptr;
  }
}

LRESULT KeyState::HookProcedure(int code, WPARAM wParam, LPARAM lParam) {
  if (code < 0) {
    return CallNextHookEx(hook, code, wParam, lParam);
  }
  // HC_NOREMOVE: the main loop only peeked; the same keystroke comes back
  // with HC_ACTION when it is retrieved, so it is counted then.
  if (code != HC_ACTION) {
    return 0;
  }
  const unsigned bits = static_cast<std::uint32_t>(lParam);
  const unsigned scan = (bits >> 16) & 0x7F;
  // Bit 31 is the transition bit: clear while the key goes or stays down.
  const bool pressed = (bits & 0x80000000u) == 0;
  if (pressed) {
    if (releasePending_[scan] != 0) {
      // The flag still shows an earlier tap; this press waits for its own
      // tick. An auto-repeat of a waiting press adds nothing.
      if (down_[scan] == 0 && queuedPresses_[scan] < kMaxQueuedPresses) {
        ++queuedPresses_[scan];
      }
    } else {
      flags[scan] = 1;
      fresh_[scan] = 1;
    }
    down_[scan] = 1;
  } else {
    down_[scan] = 0;
    if (fresh_[scan] != 0) {
      // No tick has seen this press yet: keep the flag until one has. (A
      // release of a queued press needs nothing: it already counts as a tap.)
      releasePending_[scan] = 1;
    } else {
      flags[scan] = 0;
    }
  }
  return 0;
}

void KeyState::TickDone() {
  for (unsigned scan = 0; scan < kScanCount; ++scan) {
    if (releasePending_[scan] == 0) {
      fresh_[scan] = 0;
      continue;
    }
    if (queuedPresses_[scan] == 0) {
      flags[scan] = 0;
      fresh_[scan] = 0;
      releasePending_[scan] = 0;
      continue;
    }
    // The next waiting press takes the coming tick. It was released unless
    // it is the last one and the key is still held.
    --queuedPresses_[scan];
    flags[scan] = 1;
    fresh_[scan] = 1;
    releasePending_[scan] = queuedPresses_[scan] != 0 || down_[scan] == 0 ? 1 : 0;
  }
}

}  // namespace kiv
