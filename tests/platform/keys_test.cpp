// Key positions to PC keys: the scan codes and extended flags are those of a
// PC keyboard (set 1), the values the player's key flags are indexed by.
#include "platform/keys.h"

#include <gtest/gtest.h>

namespace {

using platform::KeyCode;
using platform::LookupKeyPosition;

TEST(Keys, PositionsGiveThePcKeys) {
  struct Case {
    const char* position;
    bool numLock;
    KeyCode expected;
  };
  const Case cases[] = {
      {"Escape", false, {0x01, false, VK_ESCAPE}},    {"Digit1", false, {0x02, false, '1'}},
      {"Digit4", false, {0x05, false, '4'}},          {"KeyL", false, {0x26, false, 'L'}},
      {"F12", false, {0x58, false, VK_F1 + 11}},      {"Enter", false, {0x1C, false, VK_RETURN}},
      {"NumpadEnter", false, {0x1C, true, VK_RETURN}}, {"ControlRight", false, {0x1D, true, VK_CONTROL}},
      {"ArrowUp", true, {0x48, true, VK_UP}},         {"ArrowLeft", false, {0x4B, true, VK_LEFT}},
      {"ArrowRight", false, {0x4D, true, VK_RIGHT}},  {"ArrowDown", false, {0x50, true, VK_DOWN}},
      // The keypad shares the arrows' scan codes without the extended flag;
      // NumLock picks its virtual key.
      {"Numpad8", false, {0x48, false, VK_UP}},       {"Numpad8", true, {0x48, false, VK_NUMPAD0 + 8}},
      {"Numpad2", false, {0x50, false, VK_DOWN}},     {"Numpad4", true, {0x4B, false, VK_NUMPAD0 + 4}},
      {"NumpadDecimal", false, {0x53, false, VK_DELETE}}, {"Delete", false, {0x53, true, VK_DELETE}},
      {"NumpadDivide", false, {0x35, true, VK_DIVIDE}}, {"Slash", false, {0x35, false, VK_OEM_2}},
      // NumLock is the extended 0x45, Pause the plain one.
      {"NumLock", false, {0x45, true, VK_NUMLOCK}},   {"Pause", false, {0x45, false, VK_PAUSE}},
  };
  for (const Case& c : cases) {
    KeyCode code{};
    ASSERT_TRUE(LookupKeyPosition(c.position, c.numLock, &code)) << c.position;
    EXPECT_EQ(code.scan, c.expected.scan) << c.position;
    EXPECT_EQ(code.extended, c.expected.extended) << c.position;
    EXPECT_EQ(code.vk, c.expected.vk) << c.position << " numLock " << c.numLock;
  }
  // Keys no PC keyboard has, and names that are no key, are refused.
  for (const char* position : {"MediaPlayPause", "", "keyl", static_cast<const char*>(nullptr)}) {
    KeyCode code{0x11, true, 1};
    EXPECT_FALSE(LookupKeyPosition(position, false, &code)) << (position ? position : "null");
    EXPECT_EQ(code.scan, 0);
  }
}

}  // namespace
