#include "app/main_window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "playback/frame_clock.h"
#include "shell/shell_flags.h"

namespace kiv {
namespace {

DWORD platformId = VER_PLATFORM_WIN32_NT;

BOOL FakeVersion(OSVERSIONINFOA* info) {
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    return FALSE;
  }
  info->dwPlatformId = platformId;
  return TRUE;
}

BOOL FailingVersion(OSVERSIONINFOA*) { return FALSE; }

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetForTests();
    ResetShellFlags();
  }
  void TearDown() override {
    platform::SetVersionSource(nullptr);
    platform::ResetForTests();
    ResetShellFlags();
  }
};

TEST_F(MainWindowTest, PlatformCheckAcceptsWindowsAndNtOnly) {
  platform::SetVersionSource(&FakeVersion);
  for (DWORD id : {VER_PLATFORM_WIN32_WINDOWS, VER_PLATFORM_WIN32_NT}) {
    platformId = id;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CheckPlatform(), 1) << id;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
  for (DWORD id : {0u, 3u}) {
    platformId = id;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CheckPlatform(), 0) << id;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Serious failure: This program requires either Windows95 or Windows NT\n");
  }
}

TEST_F(MainWindowTest, PlatformCheckReportsAFailedVersionQuery) {
  platform::SetVersionSource(&FailingVersion);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(CheckPlatform(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Serious failure: Failed to get OS version information\n");
}

TEST_F(MainWindowTest, RealPlatformPassesTheCheck) {
  EXPECT_EQ(CheckPlatform(), 1);
}

TEST_F(MainWindowTest, PreviousInstanceHandleStopsAtOnce) {
  const HINSTANCE previous = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));
  EXPECT_EQ(FindOtherInstance(previous), 1);
  EXPECT_EQ(FindOtherInstance(nullptr), 0);
}

TEST_F(MainWindowTest, MainWindowIsCreatedHiddenAndFoundAsAnInstance) {
  ASSERT_EQ(RegisterMainClass(nullptr), 1);
  ASSERT_EQ(CreateMainWindow(nullptr, SW_SHOWNORMAL), 1);
  ASSERT_NE(MainWindow, nullptr);
  char title[64] = {};
  GetWindowTextA(MainWindow, title, sizeof(title));
  EXPECT_STREQ(title, "KIV Player");
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), MainWindow);
  // A second start finds this window and stops.
  EXPECT_EQ(FindOtherInstance(nullptr), 1);
  DestroyWindow(MainWindow);
}

TEST_F(MainWindowTest, SecondClassRegistrationShowsItsBox) {
  ASSERT_EQ(RegisterMainClass(nullptr), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RegisterMainClass(nullptr), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Serious alert: Failed to register program class\n");
}

TEST_F(MainWindowTest, ClassRoutesMessagesToWindowProc) {
  ASSERT_EQ(RegisterMainClass(nullptr), 1);
  ASSERT_EQ(CreateMainWindow(nullptr, SW_SHOWNORMAL), 1);
  AppActive = 0;
  SendMessageA(MainWindow, WM_ACTIVATEAPP, 1, 0);
  EXPECT_EQ(AppActive, 1);
  // A posted close (what SIGTERM sends) ends in WM_QUIT through the loop.
  ASSERT_NE(PostMessageA(MainWindow, WM_CLOSE, 0, 0), 0);
  MSG msg = {};
  int dispatched = 0;
  while (GetMessageA(&msg, nullptr, 0, 0) != 0 && dispatched < 10) {
    DispatchMessageA(&msg);
    ++dispatched;
  }
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), nullptr);
}

TEST_F(MainWindowTest, WindowCreationFailureShowsItsBox) {
  // No class registered: the window cannot be created.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(CreateMainWindow(nullptr, SW_SHOWNORMAL), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Serious alert: Failed to create main window\n");
  EXPECT_EQ(MainWindow, nullptr);
}

class WindowProcTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    ASSERT_EQ(RegisterMainClass(nullptr), 1);
    ASSERT_EQ(CreateMainWindow(nullptr, SW_SHOWNORMAL), 1);
    window = MainWindow;
  }
  void TearDown() override {
    DestroyWindow(window);
    MainWindowTest::TearDown();
  }
  // True when a WM_QUIT with wParam 0 waits in the queue.
  static bool QuitPosted() {
    MSG msg = {};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        return msg.wParam == 0;
      }
    }
    return false;
  }
  HWND window = nullptr;
};

TEST_F(WindowProcTest, CreateDoesNothing) {
  EXPECT_EQ(WindowProc(window, WM_CREATE, 0, 0), 0);
  EXPECT_FALSE(QuitPosted());
}

TEST_F(WindowProcTest, DestroyPostsQuit) {
  EXPECT_EQ(WindowProc(window, WM_DESTROY, 0, 0), 0);
  EXPECT_TRUE(QuitPosted());
}

TEST_F(WindowProcTest, ActivateForgetsElapsedTicks) {
  TheFrameClock().ElapsedTicks = 37.0;
  EXPECT_EQ(WindowProc(window, WM_ACTIVATE, 1, 0), 0);
  EXPECT_EQ(TheFrameClock().ElapsedTicks, 0.0);
}

TEST_F(WindowProcTest, CloseDestroysTheWindowWhichEndsTheLoop) {
  EXPECT_EQ(WindowProc(window, WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(QuitPosted());
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), nullptr);
}

TEST_F(WindowProcTest, ActivateAppTakesActivationOnly) {
  AppActive = 0;
  EXPECT_EQ(WindowProc(window, WM_ACTIVATEAPP, 0, 0), 0);
  EXPECT_EQ(AppActive, 0);
  EXPECT_EQ(WindowProc(window, WM_ACTIVATEAPP, 1, 0), 0);
  EXPECT_EQ(AppActive, 1);
  EXPECT_EQ(WindowProc(window, WM_ACTIVATEAPP, 0, 0), 0);
  EXPECT_EQ(AppActive, 1);  // deactivation leaves it
}

TEST_F(WindowProcTest, SetCursorAndOtherMessages) {
  EXPECT_EQ(WindowProc(window, WM_SETCURSOR, 0, 0), 0);
  const UINT other = 0x0401;
  EXPECT_EQ(WindowProc(window, other, 3, 4), DefWindowProcA(window, other, 3, 4));
  EXPECT_EQ(WindowProc(window, WM_KEYDOWN, 0, 0), DefWindowProcA(window, WM_KEYDOWN, 0, 0));
}

}  // namespace
}  // namespace kiv
