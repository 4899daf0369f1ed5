// The key table, the keys down, and the lParam that keystroke messages carry.
#include "platform/keys.h"

#include <bitset>
#include <cstring>

#include "platform/internal.h"

namespace {

using platform::KeyCode;

struct Entry {
  const char* position;
  KeyCode code;
};

constexpr WPARAM Vk(char c) { return static_cast<WPARAM>(c); }

constexpr Entry kTable[] = {
    {"Escape", {0x01, false, VK_ESCAPE}},
    {"Digit1", {0x02, false, Vk('1')}},
    {"Digit2", {0x03, false, Vk('2')}},
    {"Digit3", {0x04, false, Vk('3')}},
    {"Digit4", {0x05, false, Vk('4')}},
    {"Digit5", {0x06, false, Vk('5')}},
    {"Digit6", {0x07, false, Vk('6')}},
    {"Digit7", {0x08, false, Vk('7')}},
    {"Digit8", {0x09, false, Vk('8')}},
    {"Digit9", {0x0A, false, Vk('9')}},
    {"Digit0", {0x0B, false, Vk('0')}},
    {"Minus", {0x0C, false, VK_OEM_MINUS}},
    {"Equal", {0x0D, false, VK_OEM_PLUS}},
    {"Backspace", {0x0E, false, VK_BACK}},
    {"Tab", {0x0F, false, VK_TAB}},
    {"KeyQ", {0x10, false, Vk('Q')}},
    {"KeyW", {0x11, false, Vk('W')}},
    {"KeyE", {0x12, false, Vk('E')}},
    {"KeyR", {0x13, false, Vk('R')}},
    {"KeyT", {0x14, false, Vk('T')}},
    {"KeyY", {0x15, false, Vk('Y')}},
    {"KeyU", {0x16, false, Vk('U')}},
    {"KeyI", {0x17, false, Vk('I')}},
    {"KeyO", {0x18, false, Vk('O')}},
    {"KeyP", {0x19, false, Vk('P')}},
    {"BracketLeft", {0x1A, false, VK_OEM_4}},
    {"BracketRight", {0x1B, false, VK_OEM_6}},
    {"Enter", {0x1C, false, VK_RETURN}},
    {"ControlLeft", {0x1D, false, VK_CONTROL}},
    {"KeyA", {0x1E, false, Vk('A')}},
    {"KeyS", {0x1F, false, Vk('S')}},
    {"KeyD", {0x20, false, Vk('D')}},
    {"KeyF", {0x21, false, Vk('F')}},
    {"KeyG", {0x22, false, Vk('G')}},
    {"KeyH", {0x23, false, Vk('H')}},
    {"KeyJ", {0x24, false, Vk('J')}},
    {"KeyK", {0x25, false, Vk('K')}},
    {"KeyL", {0x26, false, Vk('L')}},
    {"Semicolon", {0x27, false, VK_OEM_1}},
    {"Quote", {0x28, false, VK_OEM_7}},
    {"Backquote", {0x29, false, VK_OEM_3}},
    {"ShiftLeft", {0x2A, false, VK_SHIFT}},
    {"Backslash", {0x2B, false, VK_OEM_5}},
    {"KeyZ", {0x2C, false, Vk('Z')}},
    {"KeyX", {0x2D, false, Vk('X')}},
    {"KeyC", {0x2E, false, Vk('C')}},
    {"KeyV", {0x2F, false, Vk('V')}},
    {"KeyB", {0x30, false, Vk('B')}},
    {"KeyN", {0x31, false, Vk('N')}},
    {"KeyM", {0x32, false, Vk('M')}},
    {"Comma", {0x33, false, VK_OEM_COMMA}},
    {"Period", {0x34, false, VK_OEM_PERIOD}},
    {"Slash", {0x35, false, VK_OEM_2}},
    {"ShiftRight", {0x36, false, VK_SHIFT}},
    {"NumpadMultiply", {0x37, false, VK_MULTIPLY}},
    {"AltLeft", {0x38, false, VK_MENU}},
    {"Space", {0x39, false, VK_SPACE}},
    {"CapsLock", {0x3A, false, VK_CAPITAL}},
    {"F1", {0x3B, false, VK_F1}},
    {"F2", {0x3C, false, VK_F1 + 1}},
    {"F3", {0x3D, false, VK_F1 + 2}},
    {"F4", {0x3E, false, VK_F1 + 3}},
    {"F5", {0x3F, false, VK_F1 + 4}},
    {"F6", {0x40, false, VK_F1 + 5}},
    {"F7", {0x41, false, VK_F1 + 6}},
    {"F8", {0x42, false, VK_F1 + 7}},
    {"F9", {0x43, false, VK_F1 + 8}},
    {"F10", {0x44, false, VK_F1 + 9}},
    {"NumLock", {0x45, true, VK_NUMLOCK}},
    {"ScrollLock", {0x46, false, VK_SCROLL}},
    {"NumpadSubtract", {0x4A, false, VK_SUBTRACT}},
    {"NumpadAdd", {0x4E, false, VK_ADD}},
    {"IntlBackslash", {0x56, false, VK_OEM_102}},
    {"F11", {0x57, false, VK_F1 + 10}},
    {"F12", {0x58, false, VK_F1 + 11}},
    {"NumpadEqual", {0x59, false, 0}},
    {"F13", {0x64, false, VK_F1 + 12}},
    {"F14", {0x65, false, VK_F1 + 13}},
    {"F15", {0x66, false, VK_F1 + 14}},
    // Print Screen with Alt, as keyboards send it.
    {"SysReq", {0x54, false, VK_SNAPSHOT}},
    // The extended keys: the keypad's Enter and divide, the right-hand
    // modifiers, and the editing and arrow blocks.
    {"NumpadEnter", {0x1C, true, VK_RETURN}},
    {"ControlRight", {0x1D, true, VK_CONTROL}},
    {"NumpadDivide", {0x35, true, VK_DIVIDE}},
    {"PrintScreen", {0x37, true, VK_SNAPSHOT}},
    {"AltRight", {0x38, true, VK_MENU}},
    {"Pause", {0x45, false, VK_PAUSE}},
    // Pause with Ctrl, as keyboards send it.
    {"Break", {0x46, true, VK_PAUSE}},
    {"Home", {0x47, true, VK_HOME}},
    {"ArrowUp", {0x48, true, VK_UP}},
    {"PageUp", {0x49, true, VK_PRIOR}},
    {"ArrowLeft", {0x4B, true, VK_LEFT}},
    {"ArrowRight", {0x4D, true, VK_RIGHT}},
    {"End", {0x4F, true, VK_END}},
    {"ArrowDown", {0x50, true, VK_DOWN}},
    {"PageDown", {0x51, true, VK_NEXT}},
    {"Insert", {0x52, true, VK_INSERT}},
    {"Delete", {0x53, true, VK_DELETE}},
    {"MetaLeft", {0x5B, true, VK_LWIN}},
    {"MetaRight", {0x5C, true, VK_RWIN}},
    {"ContextMenu", {0x5D, true, VK_APPS}},
    {"Power", {0x5E, true, 0}},
};

// Keys down, by scan code and extended flag.
std::bitset<512> keysDown;

// The keypad: one scan code each, with NumLock on or off (keypad 8 is the
// Up arrow's 0x48 without the extended flag); the virtual key follows NumLock.
struct KeypadEntry {
  const char* position;
  std::uint8_t scan;
  WPARAM vkNumLock;
  WPARAM vkNavigation;
};

constexpr KeypadEntry kKeypad[] = {
    {"Numpad7", 0x47, VK_NUMPAD0 + 7, VK_HOME},   {"Numpad8", 0x48, VK_NUMPAD0 + 8, VK_UP},
    {"Numpad9", 0x49, VK_NUMPAD0 + 9, VK_PRIOR},  {"Numpad4", 0x4B, VK_NUMPAD0 + 4, VK_LEFT},
    {"Numpad5", 0x4C, VK_NUMPAD0 + 5, VK_CLEAR},  {"Numpad6", 0x4D, VK_NUMPAD0 + 6, VK_RIGHT},
    {"Numpad1", 0x4F, VK_NUMPAD0 + 1, VK_END},    {"Numpad2", 0x50, VK_NUMPAD0 + 2, VK_DOWN},
    {"Numpad3", 0x51, VK_NUMPAD0 + 3, VK_NEXT},   {"Numpad0", 0x52, VK_NUMPAD0 + 0, VK_INSERT},
    {"NumpadDecimal", 0x53, VK_DECIMAL, VK_DELETE},
};

}  // namespace

namespace platform {

bool LookupKeyPosition(const char* position, bool numLock, KeyCode* code) {
  *code = KeyCode{0, false, 0};
  if (position == nullptr) return false;
  for (const KeypadEntry& entry : kKeypad) {
    if (std::strcmp(entry.position, position) == 0) {
      *code = KeyCode{entry.scan, false, numLock ? entry.vkNumLock : entry.vkNavigation};
      return true;
    }
  }
  for (const Entry& entry : kTable) {
    if (std::strcmp(entry.position, position) == 0) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

void PostKey(const KeyCode& code, bool released) {
  const std::size_t index = static_cast<std::size_t>(code.scan) | (code.extended ? 256u : 0u);
  const bool previouslyDown = released || keysDown.test(index);
  keysDown.set(index, !released);
  detail::PostKeystroke(code, previouslyDown, released);
}

void ForgetKeysDown() { keysDown.reset(); }

}  // namespace platform

namespace platform::detail {

LPARAM KeystrokeLParam(std::uint8_t scan, bool extended, bool previouslyDown, bool released) {
  std::uint32_t bits = 1;  // repeat count
  bits |= static_cast<std::uint32_t>(scan) << 16;
  if (extended) bits |= 1u << 24;
  if (previouslyDown) bits |= 1u << 30;
  if (released) bits |= 1u << 31;
  return static_cast<LPARAM>(bits);  // zero-extended, as a 32-bit lParam is
}

void PostKeystroke(const KeyCode& code, bool previouslyDown, bool released) {
  PostMessageA(KeystrokeTarget(), released ? WM_KEYUP : WM_KEYDOWN, code.vk,
               KeystrokeLParam(code.scan, code.extended, previouslyDown, released));
}

}  // namespace platform::detail
