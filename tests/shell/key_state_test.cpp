#include "shell/key_state.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"

namespace kiv {
namespace {

// lParam of a keystroke as the keyboard driver builds it: repeat count 1,
// scan code in bits 16-23, extended flag in bit 24, transition in bit 31.
LPARAM Keystroke(unsigned scan, bool extended, bool released) {
  std::uint32_t bits = 1u | (scan & 0xFFu) << 16;
  if (extended) {
    bits |= 1u << 24;
  }
  if (released) {
    bits |= 3u << 30;  // previous state down, transition up
  }
  return static_cast<LPARAM>(static_cast<std::int32_t>(bits));
}

class KeyStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetForTests();
    KeyState::hook = nullptr;
  }
  void TearDown() override {
    KeyState::Remove();
    platform::ResetForTests();
  }
};

TEST_F(KeyStateTest, InstallClearsEveryFlag) {
  std::memset(KeyState::flags, 1, sizeof(KeyState::flags));
  ASSERT_EQ(KeyState::Install(), 1);
  EXPECT_NE(KeyState::hook, nullptr);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(KeyState::flags[i], 0) << i;
  }
}

TEST_F(KeyStateTest, PressRepeatAndRelease) {
  ASSERT_EQ(KeyState::Install(), 1);
  EXPECT_EQ(KeyState::HookProcedure(HC_ACTION, WM_KEYDOWN, Keystroke(kScanEsc, false, false)), 0);
  EXPECT_EQ(KeyState::flags[kScanEsc], 1);
  // A reader consumes the press; the auto-repeat sets it again.
  KeyState::flags[kScanEsc] = 0;
  KeyState::HookProcedure(HC_ACTION, WM_KEYDOWN, Keystroke(kScanEsc, false, false) | (1 << 30));
  EXPECT_EQ(KeyState::flags[kScanEsc], 1);
  // The repeat was not seen by a tick yet: its release waits for one.
  EXPECT_EQ(KeyState::HookProcedure(HC_ACTION, WM_KEYUP, Keystroke(kScanEsc, false, true)), 0);
  EXPECT_EQ(KeyState::flags[kScanEsc], 1);
  KeyState::TickDone();
  EXPECT_EQ(KeyState::flags[kScanEsc], 0);
}

// Drives the hook the way the main loop does: keystrokes, then one tick that
// reads (and, like the Player, consumes) the flag. Returns the flag as the
// tick saw it.
class TickRecorder {
 public:
  explicit TickRecorder(std::uint8_t scan) : scan_(scan) {}
  void Down() { KeyState::HookProcedure(HC_ACTION, WM_KEYDOWN, Keystroke(scan_, false, false)); }
  void Up() { KeyState::HookProcedure(HC_ACTION, WM_KEYUP, Keystroke(scan_, false, true)); }
  int Tick(bool consume) {
    const int seen = KeyState::flags[scan_];
    if (consume) KeyState::flags[scan_] = 0;
    KeyState::TickDone();
    return seen;
  }
  // Runs ticks until one sees no press; returns how many did.
  int Acted(bool consume) {
    int acted = 0;
    for (int i = 0; i < 100 && Tick(consume) != 0; ++i) ++acted;
    return acted;
  }

 private:
  std::uint8_t scan_;
};

TEST_F(KeyStateTest, EveryTapGetsATickOfItsOwn) {
  ASSERT_EQ(KeyState::Install(), 1);
  TickRecorder right(kScanRight);
  for (bool consume : {true, false}) {
    SCOPED_TRACE(consume ? "reader consumes" : "reader only looks");
    // Down and up before a tick: that tick sees the key, the next does not.
    right.Down();
    right.Up();
    EXPECT_EQ(right.Acted(consume), 1);
    // Down, tick, up: as before.
    right.Down();
    EXPECT_EQ(right.Tick(consume), 1);
    right.Up();
    EXPECT_EQ(KeyState::flags[kScanRight], 0);
    EXPECT_EQ(right.Acted(consume), 0);
    // Three taps in one batch: three ticks, one each.
    for (int i = 0; i < 3; ++i) {
      right.Down();
      right.Up();
    }
    EXPECT_EQ(right.Acted(consume), 3);
    // Ten quick taps, as a user stepping frame by frame does: ten ticks.
    for (int i = 0; i < 10; ++i) {
      right.Down();
      right.Up();
    }
    EXPECT_EQ(right.Acted(consume), 10);
  }
  // A flood of taps within one tick is bounded, yet far more than a user
  // types between two ticks still act one each.
  for (int i = 0; i < 1000; ++i) {
    right.Down();
    right.Up();
  }
  const int flood = right.Acted(true);
  EXPECT_GE(flood, 20);
  EXPECT_LE(flood, 40);
}

TEST_F(KeyStateTest, HeldKeysRepeatsAndConsumedFlagsAreUnchanged) {
  ASSERT_EQ(KeyState::Install(), 1);
  TickRecorder esc(kScanEsc);
  // A held key that nobody consumes stays down tick after tick; each
  // auto-repeat sets a consumed flag again, once.
  esc.Down();
  EXPECT_EQ(esc.Tick(false), 1);
  EXPECT_EQ(esc.Tick(false), 1);
  EXPECT_EQ(esc.Tick(true), 1);
  EXPECT_EQ(esc.Tick(true), 0);
  esc.Down();  // auto-repeat
  EXPECT_EQ(esc.Tick(true), 1);
  EXPECT_EQ(esc.Tick(true), 0);
  esc.Up();
  EXPECT_EQ(esc.Acted(true), 0);
  // A flag consumed before the tick ends stays cleared though its release
  // is still pending.
  esc.Down();
  esc.Up();
  KeyState::flags[kScanEsc] = 0;
  EXPECT_EQ(esc.Acted(false), 0);
  // A tap followed by a press that is held: one tick for the tap, then the
  // key is simply held; repeats of the held press add no extra taps.
  esc.Down();
  esc.Up();
  esc.Down();
  esc.Down();
  esc.Down();
  EXPECT_EQ(esc.Tick(true), 1);
  EXPECT_EQ(esc.Tick(true), 1);
  EXPECT_EQ(esc.Tick(true), 0);
  esc.Down();  // auto-repeat
  EXPECT_EQ(esc.Tick(false), 1);
  EXPECT_EQ(esc.Tick(false), 1);
  esc.Up();
  EXPECT_EQ(KeyState::flags[kScanEsc], 0);
}

TEST_F(KeyStateTest, ArrowsAndKeypadShareFlags) {
  ASSERT_EQ(KeyState::Install(), 1);
  for (unsigned scan : {kScanUp, kScanLeft, kScanRight, kScanDown}) {
    KeyState::HookProcedure(HC_ACTION, WM_KEYDOWN, Keystroke(scan, true, false));  // arrow
    EXPECT_EQ(KeyState::flags[scan], 1);
    KeyState::TickDone();
    KeyState::HookProcedure(HC_ACTION, WM_KEYUP, Keystroke(scan, false, true));  // keypad digit
    EXPECT_EQ(KeyState::flags[scan], 0);
  }
  // Only 7 bits of the scan code count.
  KeyState::HookProcedure(HC_ACTION, WM_KEYDOWN, Keystroke(0x80 | kScanF12, false, false));
  EXPECT_EQ(KeyState::flags[kScanF12], 1);
  for (int i = 128; i < 256; ++i) {
    ASSERT_EQ(KeyState::flags[i], 0) << i;
  }
}

TEST_F(KeyStateTest, PeekedOrForeignCodesChangeNothing) {
  ASSERT_EQ(KeyState::Install(), 1);
  EXPECT_EQ(KeyState::HookProcedure(HC_NOREMOVE, WM_KEYDOWN, Keystroke(kScanL, false, false)), 0);
  EXPECT_EQ(KeyState::flags[kScanL], 0);
  KeyState::HookProcedure(-1, WM_KEYDOWN, Keystroke(kScanL, false, false));
  EXPECT_EQ(KeyState::flags[kScanL], 0);
  KeyState::flags[kScan1] = 1;
  KeyState::HookProcedure(HC_NOREMOVE, WM_KEYUP, Keystroke(kScan1, false, true));
  EXPECT_EQ(KeyState::flags[kScan1], 1);
}

TEST_F(KeyStateTest, QueuedKeystrokeIsCountedOnceWhenRetrieved) {
  ASSERT_EQ(KeyState::Install(), 1);
  ASSERT_NE(PostMessageA(nullptr, WM_KEYDOWN, 0x1B, Keystroke(kScan2, false, false)), 0);
  MSG msg = {};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(KeyState::flags[kScan2], 0);
  KeyState::flags[kScan2] = 0;
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_KEYDOWN);
  EXPECT_EQ(KeyState::flags[kScan2], 1);
}

TEST_F(KeyStateTest, RemovedHookSeesNoKeystrokes) {
  ASSERT_EQ(KeyState::Install(), 1);
  KeyState::Remove();
  EXPECT_EQ(KeyState::hook, nullptr);
  KeyState::Remove();  // nothing stored: nothing happens
  ASSERT_NE(PostMessageA(nullptr, WM_KEYDOWN, 0x1B, Keystroke(kScanEsc, false, false)), 0);
  MSG msg = {};
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(KeyState::flags[kScanEsc], 0);
}

}  // namespace
}  // namespace kiv
