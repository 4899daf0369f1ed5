#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform_fixture.h"

namespace platform_test {
namespace {

class SystemTest : public PlatformTest {};

DWORD fakeNow = 0;
DWORD FakeTime() { return fakeNow; }

TEST_F(SystemTest, TimeSourceCanBeReplacedAndRestored) {
  const DWORD a = timeGetTime();
  usleep(20000);
  const DWORD b = timeGetTime();
  EXPECT_GE(static_cast<DWORD>(b - a), 15u);
  EXPECT_LT(static_cast<DWORD>(b - a), 2000u);

  fakeNow = 0xFFFFFFF0u;
  const platform::TimeSource previous = platform::SetTimeSource(FakeTime);
  EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
  fakeNow += 0x20;  // wraps like the real 32-bit timer
  EXPECT_EQ(timeGetTime(), 0x10u);
  EXPECT_EQ(platform::SetTimeSource(previous), &FakeTime);
  EXPECT_LT(static_cast<DWORD>(timeGetTime() - b), 2000u);
}

BOOL Windows98(OSVERSIONINFOA* info) {
  info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  return TRUE;
}

TEST_F(SystemTest, VersionComesFromTheKernelUnlessReplaced) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = 156;
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_FALSE(GetVersionExA(nullptr));
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_GE(info.dwMajorVersion, 2u);
  EXPECT_EQ(info.dwOSVersionInfoSize, 148u);
  EXPECT_EQ(std::strncmp(info.szCSDVersion, "Linux ", 6), 0);

  const platform::VersionSource previous = platform::SetVersionSource(Windows98);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  platform::SetVersionSource(previous);
}

TEST_F(SystemTest, MessageBoxWritesCaptionAndTextToStandardError) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Unable to initialize graphics system", "Fatal error",
                        MB_TOPMOST | MB_SETFOREGROUND | MB_TASKMODAL | MB_ICONERROR),
            IDOK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Fatal error: Unable to initialize graphics system\n");
}

TEST_F(SystemTest, IconsAndCursorsAreNullWithoutResources) {
  EXPECT_EQ(LoadIconA(nullptr, "PROGRAMICON"), nullptr);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  const HCURSOR fake = reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x40));
  EXPECT_EQ(SetCursor(fake), nullptr);
  EXPECT_EQ(SetCursor(nullptr), fake);
}

TEST_F(SystemTest, SignalsPostCloseToTheSignalWindow) {
  ASSERT_NE(Register("MyClass"), 0);
  const HWND window = Create("MyClass", "KIV Player");
  platform::SetSignalWindow(window);
  raise(SIGTERM);
  raise(SIGINT);  // both before one drain: one WM_CLOSE
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, window);
  EXPECT_EQ(msg.message, WM_CLOSE);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

  // A GetMessageA waiting on an empty queue wakes up for a signal.
  const pid_t parent = getpid();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    usleep(100000);
    kill(parent, SIGINT);
    _exit(0);
  }
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(msg.message, WM_CLOSE);
  DispatchMessageA(&msg);  // DefWindowProcA destroys it
  EXPECT_FALSE(DestroyWindow(window));

  // Without a window the usual disposition is back.
  platform::SetSignalWindow(nullptr);
  struct sigaction action {};
  sigaction(SIGTERM, nullptr, &action);
  EXPECT_EQ(action.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace platform_test
