// Keys named by position (as the browser names them) against the desktop's
// table of SDL key symbols: the same key must reach the player as the same
// PC key, whichever front end it came through.
#include <SDL.h>
#include <gtest/gtest.h>

#include "platform/linux/linux_internal.h"

namespace {

using platform::detail::KeyCode;
using platform::detail::LookupKey;
using platform::detail::LookupKeyPosition;

TEST(ScanCodes, PositionsGiveTheKeysOfTheDesktop) {
  struct Pair {
    const char* position;
    SDLKey sym;
  };
  const Pair pairs[] = {
      {"Escape", SDLK_ESCAPE},   {"Digit1", SDLK_1},          {"Digit2", SDLK_2},
      {"Digit4", SDLK_4},        {"Digit0", SDLK_0},          {"KeyL", SDLK_l},
      {"KeyA", SDLK_a},          {"KeyQ", SDLK_q},            {"KeyZ", SDLK_z},
      {"KeyM", SDLK_m},          {"F1", SDLK_F1},             {"F10", SDLK_F10},
      {"F11", SDLK_F11},         {"F12", SDLK_F12},           {"Enter", SDLK_RETURN},
      {"NumpadEnter", SDLK_KP_ENTER}, {"ControlLeft", SDLK_LCTRL}, {"ControlRight", SDLK_RCTRL},
      {"AltLeft", SDLK_LALT},    {"AltRight", SDLK_RALT},     {"ShiftRight", SDLK_RSHIFT},
      {"Space", SDLK_SPACE},     {"ArrowUp", SDLK_UP},        {"ArrowLeft", SDLK_LEFT},
      {"ArrowRight", SDLK_RIGHT}, {"ArrowDown", SDLK_DOWN},   {"Numpad8", SDLK_KP8},
      {"Numpad4", SDLK_KP4},     {"Numpad6", SDLK_KP6},       {"Numpad2", SDLK_KP2},
      {"Numpad7", SDLK_KP7},     {"Home", SDLK_HOME},         {"Delete", SDLK_DELETE},
      {"NumpadDecimal", SDLK_KP_PERIOD}, {"NumpadDivide", SDLK_KP_DIVIDE}, {"Slash", SDLK_SLASH},
      {"NumLock", SDLK_NUMLOCK}, {"Pause", SDLK_PAUSE},       {"Backquote", SDLK_BACKQUOTE},
      {"BracketRight", SDLK_RIGHTBRACKET}, {"Backslash", SDLK_BACKSLASH}, {"Comma", SDLK_COMMA},
  };
  for (const Pair& pair : pairs) {
    for (const bool numLock : {false, true}) {
      KeyCode desktop{};
      KeyCode browser{};
      ASSERT_TRUE(LookupKey(pair.sym, numLock, &desktop)) << pair.position;
      ASSERT_TRUE(LookupKeyPosition(pair.position, numLock, &browser)) << pair.position;
      EXPECT_EQ(browser.scan, desktop.scan) << pair.position;
      EXPECT_EQ(browser.extended, desktop.extended) << pair.position;
      EXPECT_EQ(browser.vk, desktop.vk) << pair.position << " numLock " << numLock;
    }
  }
  // Keys the player has no use for, and names no keyboard has, are refused.
  KeyCode code{};
  EXPECT_FALSE(LookupKeyPosition("MediaPlayPause", false, &code));
  EXPECT_FALSE(LookupKeyPosition("", false, &code));
  EXPECT_FALSE(LookupKeyPosition(nullptr, false, &code));
  EXPECT_EQ(code.scan, 0);
}

}  // namespace
