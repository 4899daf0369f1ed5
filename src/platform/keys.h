// The keys of a PC keyboard by position, for the front ends that turn their
// own key events into keystroke messages: one table from a position to its
// scan code (set 1), extended-key flag and virtual-key code, and one record
// of which keys are down. Positions are named as browsers name them in
// KeyboardEvent.code ("KeyA", "ArrowUp", "Numpad8"); like scan codes, those
// names do not depend on the keyboard layout.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace platform {

struct KeyCode {
  std::uint8_t scan;  // PC scan code, set 1
  bool extended;      // E0-prefixed key
  WPARAM vk;          // virtual-key code
};

// The key at a position; false (and a zero code) for names no PC key has.
// The keypad's virtual key follows NumLock, as its scan code does not.
bool LookupKeyPosition(const char* position, bool numLock, KeyCode* code);

// Posts WM_KEYDOWN or WM_KEYUP for the key to the window that keystrokes go
// to. A press of a key already down is a repeat; a release always follows a
// press.
void PostKey(const KeyCode& code, bool released);
// Forgets which keys are down (a new window, a new file).
void ForgetKeysDown();

}  // namespace platform
