#include "app/main_loop.h"

#include <gtest/gtest.h>

#include <string>

#include "app/recording_services.h"
#include "platform/platform.h"
#include "shell/key_state.h"
#include "shell/shell_flags.h"

namespace kiv {
namespace {

using testing::CallLog;
using testing::RecordingPlayer;
using testing::RecordingServices;

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetForTests();
    ResetShellFlags();
    CurrentPlayer = &player;
  }
  void TearDown() override {
    CurrentPlayer = nullptr;
    platform::ResetForTests();
  }

  CallLog log;
  RecordingPlayer player{&log};
};

TEST_F(MainLoopTest, DispatchTickClearsTheGuardWhilePlaybackGoesOn) {
  player.onUpdate = [](int) { return 1; };
  DispatchTick();
  DispatchTick();
  EXPECT_EQ(player.updates, 2);
  EXPECT_EQ(player.UpdateBusy, 0);
  EXPECT_EQ(PlaybackDone, 0);
}

TEST_F(MainLoopTest, DispatchTickLatchesAFinishedPlayer) {
  player.onUpdate = [](int) { return 0; };
  DispatchTick();
  EXPECT_EQ(PlaybackDone, 1);
  EXPECT_EQ(player.UpdateBusy, 1);
  PlaybackDone = 0;
  DispatchTick();
  EXPECT_EQ(player.updates, 1);  // never updated again
}

TEST_F(MainLoopTest, NestedDispatchTickDoesNothing) {
  int nested = 0;
  player.onUpdate = [&](int) {
    ++nested;
    DispatchTick();  // e.g. from a window procedure run inside Update
    return 1;
  };
  DispatchTick();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(player.updates, 1);
  EXPECT_EQ(player.UpdateBusy, 0);
}

TEST_F(MainLoopTest, BusyPlayerIsSkipped) {
  player.UpdateBusy = 1;
  DispatchTick();
  EXPECT_EQ(player.updates, 0);
}

TEST_F(MainLoopTest, IdlePassTicksSleepsOnRequestThenPumps) {
  RecordingServices services;
  services.log.clear();
  player.onUpdate = [](int update) {
    if (update == 1) {
      TickIdle = 1;
    }
    return update < 2 ? 1 : 0;
  };
  EXPECT_EQ(RunMainLoop(services), 0);
  // The pass that ends playback still sleeps if asked and pumps SDL events.
  EXPECT_EQ(services.log, CallLog({"Delay 5", "PumpSdlEvents", "PumpSdlEvents"}));
  EXPECT_EQ(TickIdle, 0);
  EXPECT_EQ(player.updates, 2);
}

TEST_F(MainLoopTest, InactiveApplicationIsNotTicked) {
  RecordingServices services;
  AppActive = 0;
  int pumps = 0;
  services.onPump = [&] {
    if (++pumps == 3) {
      AppActive = 1;  // restored
    }
  };
  player.onUpdate = [](int) { return 0; };
  EXPECT_EQ(RunMainLoop(services), 0);
  EXPECT_EQ(services.log, CallLog({"Delay 20", "PumpSdlEvents", "Delay 20", "PumpSdlEvents", "Delay 20",
                                   "PumpSdlEvents", "PumpSdlEvents"}));
  EXPECT_EQ(player.updates, 1);
}

// A host that cannot block (the browser) runs passes until one reports a
// wait: a pass that waited must say so, or the host spins; one that ticked
// without waiting must not, or a fast file is held to the host's rate.
TEST_F(MainLoopTest, StepsReportWaitsAndTheEnd) {
  RecordingServices services;
  player.onUpdate = [](int update) {
    if (update == 2) TickIdle = 1;
    return update < 3 ? 1 : 0;
  };
  int result = -7;
  EXPECT_EQ(StepMainLoop(services, &result), LoopPass::kBusy);
  EXPECT_EQ(StepMainLoop(services, &result), LoopPass::kIdle);
  EXPECT_EQ(StepMainLoop(services, &result), LoopPass::kBusy);  // the tick that ends playback
  EXPECT_EQ(result, -7);
  EXPECT_EQ(StepMainLoop(services, &result), LoopPass::kEnded);
  EXPECT_EQ(result, 0);
  AppActive = 0;
  PlaybackDone = 0;
  EXPECT_EQ(StepMainLoop(services, &result), LoopPass::kIdle);  // inactive: waits, no tick
  EXPECT_EQ(player.updates, 3);
  PostQuitMessage(3);
  EXPECT_EQ(StepMainLoop(services, &result), LoopPass::kEnded);
  EXPECT_EQ(result, 3);
}

CallLog* windowLog = nullptr;
constexpr UINT kTestMessage = 0x0401;

LRESULT RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTestMessage && windowLog != nullptr) {
    windowLog->push_back("test message");
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(MainLoopTest, WaitingMessagesAreDispatchedBeforeAnyTick) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &RecordingWindowProc;
  windowClass.lpszClassName = "MainLoopTestClass";
  ASSERT_NE(RegisterClassExA(&windowClass), 0);
  HWND window = CreateWindowExA(0, "MainLoopTestClass", "main loop test", WS_POPUP, 0, 0, 10, 10, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);

  RecordingServices services;
  windowLog = &services.log;
  player.onUpdate = [&](int) {
    services.log.push_back("Player Update");
    return 0;
  };
  PostMessageA(window, kTestMessage, 0, 0);
  PostMessageA(window, kTestMessage, 0, 0);
  EXPECT_EQ(RunMainLoop(services), 0);
  windowLog = nullptr;
  EXPECT_EQ(services.log, CallLog({"test message", "test message", "Player Update", "PumpSdlEvents"}));
  DestroyWindow(window);
}

TEST_F(MainLoopTest, QuitMessageEndsTheLoopWithItsCode) {
  RecordingServices services;
  player.onUpdate = [](int) { return 1; };
  PostQuitMessage(42);
  EXPECT_EQ(RunMainLoop(services), 42);
  EXPECT_EQ(player.updates, 0);
  EXPECT_EQ(PlaybackDone, 0);
}

TEST_F(MainLoopTest, TapQueuedBeforeATickActsOnThatTickOnly) {
  ASSERT_EQ(KeyState::Install(), 1);
  RecordingServices services;
  int pumps = 0;
  services.onPump = [&] {
    // Press and release of Right reach the queue in one batch, twice.
    if (++pumps <= 2) {
      PostMessageA(nullptr, WM_KEYDOWN, 0x27, static_cast<LPARAM>(1u | kScanRight << 16));
      PostMessageA(nullptr, WM_KEYUP, 0x27, static_cast<LPARAM>(0xC0000001u | kScanRight << 16));
    }
  };
  std::string seen;
  player.onUpdate = [&](int update) {
    seen += KeyState::flags[kScanRight] != 0 ? '1' : '0';
    return update < 5 ? 1 : 0;
  };
  EXPECT_EQ(RunMainLoop(services), 0);
  KeyState::Remove();
  // Each tap is seen by the one tick after its batch, and only by it.
  EXPECT_EQ(seen, "01100");
}

}  // namespace
}  // namespace kiv
