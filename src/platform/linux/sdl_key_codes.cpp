// SDL 1.2 key symbols to the keys of a PC keyboard: scan code (set 1), the
// extended-key flag and the virtual-key code. Symbols, not SDL's scan codes,
// are the source: sdl12-compat reports X keycodes, and 0 for extended keys.
#include <SDL.h>

#include "platform/linux/linux_internal.h"

namespace {

using platform::detail::KeyCode;

struct Entry {
  int sym;
  KeyCode code;
};

constexpr WPARAM Vk(char c) { return static_cast<WPARAM>(c); }

// Shifted symbols (reported by layouts that have them unshifted) take the key
// they sit on in the US layout.
constexpr Entry kTable[] = {
    {SDLK_ESCAPE, {0x01, false, VK_ESCAPE}},
    {SDLK_1, {0x02, false, Vk('1')}},
    {SDLK_2, {0x03, false, Vk('2')}},
    {SDLK_3, {0x04, false, Vk('3')}},
    {SDLK_4, {0x05, false, Vk('4')}},
    {SDLK_5, {0x06, false, Vk('5')}},
    {SDLK_6, {0x07, false, Vk('6')}},
    {SDLK_7, {0x08, false, Vk('7')}},
    {SDLK_8, {0x09, false, Vk('8')}},
    {SDLK_9, {0x0A, false, Vk('9')}},
    {SDLK_0, {0x0B, false, Vk('0')}},
    {SDLK_MINUS, {0x0C, false, VK_OEM_MINUS}},
    {SDLK_EQUALS, {0x0D, false, VK_OEM_PLUS}},
    {SDLK_BACKSPACE, {0x0E, false, VK_BACK}},
    {SDLK_TAB, {0x0F, false, VK_TAB}},
    {SDLK_q, {0x10, false, Vk('Q')}},
    {SDLK_w, {0x11, false, Vk('W')}},
    {SDLK_e, {0x12, false, Vk('E')}},
    {SDLK_r, {0x13, false, Vk('R')}},
    {SDLK_t, {0x14, false, Vk('T')}},
    {SDLK_y, {0x15, false, Vk('Y')}},
    {SDLK_u, {0x16, false, Vk('U')}},
    {SDLK_i, {0x17, false, Vk('I')}},
    {SDLK_o, {0x18, false, Vk('O')}},
    {SDLK_p, {0x19, false, Vk('P')}},
    {SDLK_LEFTBRACKET, {0x1A, false, VK_OEM_4}},
    {SDLK_RIGHTBRACKET, {0x1B, false, VK_OEM_6}},
    {SDLK_RETURN, {0x1C, false, VK_RETURN}},
    {SDLK_LCTRL, {0x1D, false, VK_CONTROL}},
    {SDLK_a, {0x1E, false, Vk('A')}},
    {SDLK_s, {0x1F, false, Vk('S')}},
    {SDLK_d, {0x20, false, Vk('D')}},
    {SDLK_f, {0x21, false, Vk('F')}},
    {SDLK_g, {0x22, false, Vk('G')}},
    {SDLK_h, {0x23, false, Vk('H')}},
    {SDLK_j, {0x24, false, Vk('J')}},
    {SDLK_k, {0x25, false, Vk('K')}},
    {SDLK_l, {0x26, false, Vk('L')}},
    {SDLK_SEMICOLON, {0x27, false, VK_OEM_1}},
    {SDLK_QUOTE, {0x28, false, VK_OEM_7}},
    {SDLK_BACKQUOTE, {0x29, false, VK_OEM_3}},
    {SDLK_LSHIFT, {0x2A, false, VK_SHIFT}},
    {SDLK_BACKSLASH, {0x2B, false, VK_OEM_5}},
    {SDLK_z, {0x2C, false, Vk('Z')}},
    {SDLK_x, {0x2D, false, Vk('X')}},
    {SDLK_c, {0x2E, false, Vk('C')}},
    {SDLK_v, {0x2F, false, Vk('V')}},
    {SDLK_b, {0x30, false, Vk('B')}},
    {SDLK_n, {0x31, false, Vk('N')}},
    {SDLK_m, {0x32, false, Vk('M')}},
    {SDLK_COMMA, {0x33, false, VK_OEM_COMMA}},
    {SDLK_PERIOD, {0x34, false, VK_OEM_PERIOD}},
    {SDLK_SLASH, {0x35, false, VK_OEM_2}},
    {SDLK_RSHIFT, {0x36, false, VK_SHIFT}},
    {SDLK_KP_MULTIPLY, {0x37, false, VK_MULTIPLY}},
    {SDLK_LALT, {0x38, false, VK_MENU}},
    {SDLK_SPACE, {0x39, false, VK_SPACE}},
    {SDLK_CAPSLOCK, {0x3A, false, VK_CAPITAL}},
    {SDLK_F1, {0x3B, false, VK_F1 + 0}},
    {SDLK_F2, {0x3C, false, VK_F1 + 1}},
    {SDLK_F3, {0x3D, false, VK_F1 + 2}},
    {SDLK_F4, {0x3E, false, VK_F1 + 3}},
    {SDLK_F5, {0x3F, false, VK_F1 + 4}},
    {SDLK_F6, {0x40, false, VK_F1 + 5}},
    {SDLK_F7, {0x41, false, VK_F1 + 6}},
    {SDLK_F8, {0x42, false, VK_F1 + 7}},
    {SDLK_F9, {0x43, false, VK_F1 + 8}},
    {SDLK_F10, {0x44, false, VK_F1 + 9}},
    // NumLock is the extended 0x45; Pause is 0x45 without the flag.
    {SDLK_NUMLOCK, {0x45, true, VK_NUMLOCK}},
    {SDLK_PAUSE, {0x45, false, VK_PAUSE}},
    {SDLK_SCROLLOCK, {0x46, false, VK_SCROLL}},
    {SDLK_KP_MINUS, {0x4A, false, VK_SUBTRACT}},
    {SDLK_KP_PLUS, {0x4E, false, VK_ADD}},
    {SDLK_SYSREQ, {0x54, false, VK_SNAPSHOT}},
    {SDLK_LESS, {0x56, false, VK_OEM_102}},
    {SDLK_F11, {0x57, false, VK_F1 + 10}},
    {SDLK_F12, {0x58, false, VK_F1 + 11}},
    {SDLK_KP_EQUALS, {0x59, false, 0}},
    {SDLK_F13, {0x64, false, VK_F1 + 12}},
    {SDLK_F14, {0x65, false, VK_F1 + 13}},
    {SDLK_F15, {0x66, false, VK_F1 + 14}},
    // The extended keys: the keypad's Enter and divide, the right-hand
    // modifiers, and the editing and arrow blocks.
    {SDLK_KP_ENTER, {0x1C, true, VK_RETURN}},
    {SDLK_RCTRL, {0x1D, true, VK_CONTROL}},
    {SDLK_KP_DIVIDE, {0x35, true, VK_DIVIDE}},
    {SDLK_PRINT, {0x37, true, VK_SNAPSHOT}},
    {SDLK_RALT, {0x38, true, VK_MENU}},
    {SDLK_MODE, {0x38, true, VK_MENU}},
    {SDLK_BREAK, {0x46, true, VK_PAUSE}},
    {SDLK_HOME, {0x47, true, VK_HOME}},
    {SDLK_UP, {0x48, true, VK_UP}},
    {SDLK_PAGEUP, {0x49, true, VK_PRIOR}},
    {SDLK_LEFT, {0x4B, true, VK_LEFT}},
    {SDLK_RIGHT, {0x4D, true, VK_RIGHT}},
    {SDLK_END, {0x4F, true, VK_END}},
    {SDLK_DOWN, {0x50, true, VK_DOWN}},
    {SDLK_PAGEDOWN, {0x51, true, VK_NEXT}},
    {SDLK_INSERT, {0x52, true, VK_INSERT}},
    {SDLK_DELETE, {0x53, true, VK_DELETE}},
    {SDLK_LSUPER, {0x5B, true, VK_LWIN}},
    {SDLK_LMETA, {0x5B, true, VK_LWIN}},
    {SDLK_RSUPER, {0x5C, true, VK_RWIN}},
    {SDLK_RMETA, {0x5C, true, VK_RWIN}},
    {SDLK_MENU, {0x5D, true, VK_APPS}},
    {SDLK_COMPOSE, {0x5D, true, VK_APPS}},
    {SDLK_POWER, {0x5E, true, 0}},
    // Shifted symbols.
    {SDLK_EXCLAIM, {0x02, false, Vk('1')}},
    {SDLK_AT, {0x03, false, Vk('2')}},
    {SDLK_HASH, {0x04, false, Vk('3')}},
    {SDLK_DOLLAR, {0x05, false, Vk('4')}},
    {SDLK_CARET, {0x07, false, Vk('6')}},
    {SDLK_AMPERSAND, {0x08, false, Vk('7')}},
    {SDLK_ASTERISK, {0x09, false, Vk('8')}},
    {SDLK_LEFTPAREN, {0x0A, false, Vk('9')}},
    {SDLK_RIGHTPAREN, {0x0B, false, Vk('0')}},
    {SDLK_UNDERSCORE, {0x0C, false, VK_OEM_MINUS}},
    {SDLK_PLUS, {0x0D, false, VK_OEM_PLUS}},
    {SDLK_COLON, {0x27, false, VK_OEM_1}},
    {SDLK_QUOTEDBL, {0x28, false, VK_OEM_7}},
    {SDLK_GREATER, {0x34, false, VK_OEM_PERIOD}},
    {SDLK_QUESTION, {0x35, false, VK_OEM_2}},
};

// The keypad: one scan code each, with NumLock on or off (keypad 8 is the
// Up arrow's 0x48 without the extended flag); the virtual key follows NumLock.
struct KeypadEntry {
  int sym;
  std::uint8_t scan;
  WPARAM vkNumLock;
  WPARAM vkNavigation;
};

constexpr KeypadEntry kKeypad[] = {
    {SDLK_KP7, 0x47, VK_NUMPAD0 + 7, VK_HOME},   {SDLK_KP8, 0x48, VK_NUMPAD0 + 8, VK_UP},
    {SDLK_KP9, 0x49, VK_NUMPAD0 + 9, VK_PRIOR},  {SDLK_KP4, 0x4B, VK_NUMPAD0 + 4, VK_LEFT},
    {SDLK_KP5, 0x4C, VK_NUMPAD0 + 5, VK_CLEAR},  {SDLK_KP6, 0x4D, VK_NUMPAD0 + 6, VK_RIGHT},
    {SDLK_KP1, 0x4F, VK_NUMPAD0 + 1, VK_END},    {SDLK_KP2, 0x50, VK_NUMPAD0 + 2, VK_DOWN},
    {SDLK_KP3, 0x51, VK_NUMPAD0 + 3, VK_NEXT},   {SDLK_KP0, 0x52, VK_NUMPAD0 + 0, VK_INSERT},
    {SDLK_KP_PERIOD, 0x53, VK_DECIMAL, VK_DELETE},
};

}  // namespace

namespace platform::detail {

bool LookupKey(int sdlKey, bool numLock, KeyCode* code) {
  for (const KeypadEntry& entry : kKeypad) {
    if (entry.sym == sdlKey) {
      *code = KeyCode{entry.scan, false, numLock ? entry.vkNumLock : entry.vkNavigation};
      return true;
    }
  }
  for (const Entry& entry : kTable) {
    if (entry.sym == sdlKey) {
      *code = entry.code;
      return true;
    }
  }
  *code = KeyCode{0, false, 0};
  return false;
}

}  // namespace platform::detail
