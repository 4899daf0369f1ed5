// SDL 1.2 key symbols to key positions of the portable key table. Symbols,
// not SDL's scan codes, are the source: sdl12-compat reports X keycodes, and
// 0 for extended keys.
#include <SDL.h>

#include "platform/linux/linux_internal.h"

namespace {

struct Entry {
  int sym;
  const char* position;
};

// Shifted symbols (reported by layouts that have them unshifted) take the key
// they sit on in the US layout.
constexpr Entry kPositions[] = {
    {SDLK_ESCAPE, "Escape"}, {SDLK_1, "Digit1"}, {SDLK_2, "Digit2"}, {SDLK_3, "Digit3"},
    {SDLK_4, "Digit4"}, {SDLK_5, "Digit5"}, {SDLK_6, "Digit6"}, {SDLK_7, "Digit7"},
    {SDLK_8, "Digit8"}, {SDLK_9, "Digit9"}, {SDLK_0, "Digit0"}, {SDLK_MINUS, "Minus"},
    {SDLK_EQUALS, "Equal"}, {SDLK_BACKSPACE, "Backspace"}, {SDLK_TAB, "Tab"},
    {SDLK_q, "KeyQ"}, {SDLK_w, "KeyW"}, {SDLK_e, "KeyE"}, {SDLK_r, "KeyR"}, {SDLK_t, "KeyT"},
    {SDLK_y, "KeyY"}, {SDLK_u, "KeyU"}, {SDLK_i, "KeyI"}, {SDLK_o, "KeyO"}, {SDLK_p, "KeyP"},
    {SDLK_LEFTBRACKET, "BracketLeft"}, {SDLK_RIGHTBRACKET, "BracketRight"},
    {SDLK_RETURN, "Enter"}, {SDLK_LCTRL, "ControlLeft"},
    {SDLK_a, "KeyA"}, {SDLK_s, "KeyS"}, {SDLK_d, "KeyD"}, {SDLK_f, "KeyF"}, {SDLK_g, "KeyG"},
    {SDLK_h, "KeyH"}, {SDLK_j, "KeyJ"}, {SDLK_k, "KeyK"}, {SDLK_l, "KeyL"},
    {SDLK_SEMICOLON, "Semicolon"}, {SDLK_QUOTE, "Quote"}, {SDLK_BACKQUOTE, "Backquote"},
    {SDLK_LSHIFT, "ShiftLeft"}, {SDLK_BACKSLASH, "Backslash"},
    {SDLK_z, "KeyZ"}, {SDLK_x, "KeyX"}, {SDLK_c, "KeyC"}, {SDLK_v, "KeyV"}, {SDLK_b, "KeyB"},
    {SDLK_n, "KeyN"}, {SDLK_m, "KeyM"}, {SDLK_COMMA, "Comma"}, {SDLK_PERIOD, "Period"},
    {SDLK_SLASH, "Slash"}, {SDLK_RSHIFT, "ShiftRight"}, {SDLK_KP_MULTIPLY, "NumpadMultiply"},
    {SDLK_LALT, "AltLeft"}, {SDLK_SPACE, "Space"}, {SDLK_CAPSLOCK, "CapsLock"},
    {SDLK_F1, "F1"}, {SDLK_F2, "F2"}, {SDLK_F3, "F3"}, {SDLK_F4, "F4"}, {SDLK_F5, "F5"},
    {SDLK_F6, "F6"}, {SDLK_F7, "F7"}, {SDLK_F8, "F8"}, {SDLK_F9, "F9"}, {SDLK_F10, "F10"},
    {SDLK_F11, "F11"}, {SDLK_F12, "F12"}, {SDLK_F13, "F13"}, {SDLK_F14, "F14"}, {SDLK_F15, "F15"},
    {SDLK_NUMLOCK, "NumLock"}, {SDLK_PAUSE, "Pause"}, {SDLK_BREAK, "Break"},
    {SDLK_SCROLLOCK, "ScrollLock"}, {SDLK_KP_MINUS, "NumpadSubtract"}, {SDLK_KP_PLUS, "NumpadAdd"},
    {SDLK_SYSREQ, "SysReq"}, {SDLK_LESS, "IntlBackslash"}, {SDLK_KP_EQUALS, "NumpadEqual"},
    {SDLK_KP_ENTER, "NumpadEnter"}, {SDLK_RCTRL, "ControlRight"}, {SDLK_KP_DIVIDE, "NumpadDivide"},
    {SDLK_PRINT, "PrintScreen"}, {SDLK_RALT, "AltRight"}, {SDLK_MODE, "AltRight"},
    {SDLK_HOME, "Home"}, {SDLK_UP, "ArrowUp"}, {SDLK_PAGEUP, "PageUp"}, {SDLK_LEFT, "ArrowLeft"},
    {SDLK_RIGHT, "ArrowRight"}, {SDLK_END, "End"}, {SDLK_DOWN, "ArrowDown"},
    {SDLK_PAGEDOWN, "PageDown"}, {SDLK_INSERT, "Insert"}, {SDLK_DELETE, "Delete"},
    {SDLK_LSUPER, "MetaLeft"}, {SDLK_LMETA, "MetaLeft"}, {SDLK_RSUPER, "MetaRight"},
    {SDLK_RMETA, "MetaRight"}, {SDLK_MENU, "ContextMenu"}, {SDLK_COMPOSE, "ContextMenu"},
    {SDLK_POWER, "Power"},
    {SDLK_KP7, "Numpad7"}, {SDLK_KP8, "Numpad8"}, {SDLK_KP9, "Numpad9"}, {SDLK_KP4, "Numpad4"},
    {SDLK_KP5, "Numpad5"}, {SDLK_KP6, "Numpad6"}, {SDLK_KP1, "Numpad1"}, {SDLK_KP2, "Numpad2"},
    {SDLK_KP3, "Numpad3"}, {SDLK_KP0, "Numpad0"}, {SDLK_KP_PERIOD, "NumpadDecimal"},
    // Shifted symbols.
    {SDLK_EXCLAIM, "Digit1"}, {SDLK_AT, "Digit2"}, {SDLK_HASH, "Digit3"}, {SDLK_DOLLAR, "Digit4"},
    {SDLK_CARET, "Digit6"}, {SDLK_AMPERSAND, "Digit7"}, {SDLK_ASTERISK, "Digit8"},
    {SDLK_LEFTPAREN, "Digit9"}, {SDLK_RIGHTPAREN, "Digit0"}, {SDLK_UNDERSCORE, "Minus"},
    {SDLK_PLUS, "Equal"}, {SDLK_COLON, "Semicolon"}, {SDLK_QUOTEDBL, "Quote"},
    {SDLK_GREATER, "Period"}, {SDLK_QUESTION, "Slash"},
};

}  // namespace

namespace platform::detail {

bool LookupKey(int sdlKey, bool numLock, KeyCode* code) {
  for (const Entry& entry : kPositions) {
    if (entry.sym == sdlKey) return LookupKeyPosition(entry.position, numLock, code);
  }
  *code = KeyCode{0, false, 0};
  return false;
}

}  // namespace platform::detail
