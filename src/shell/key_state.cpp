#include "shell/key_state.h"

#include <cstring>

namespace kiv {

std::uint8_t KeyState::flags[256] = {};
HHOOK KeyState::hook = nullptr;

int KeyState::Install() {
  // A hook on this thread only: keystrokes reach it from inside the main
  // loop's message retrieval.
  hook = SetWindowsHookExA(WH_KEYBOARD, &KeyState::HookProcedure, nullptr, GetCurrentThreadId());
  if (hook == nullptr) {
    return 0;
  }
  std::memset(flags, 0, sizeof(flags));
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
  flags[scan] = (bits & 0x80000000u) == 0 ? 1 : 0;
  return 0;
}

}  // namespace kiv
