// Windows of another process: a forked child creates the window and serves
// requests from its message loop, as a running player does.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/linux/linux_internal.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

LRESULT ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(3);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class InstanceTest : public PlatformTest {
 protected:
  // Starts a child owning a minimised window of this class and title; it
  // runs its message loop until SIGTERM and exits with the WM_QUIT code.
  // `ready` is read once the window exists.
  pid_t StartOwner(const std::string& className, const std::string& title) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child != 0) {
      close(ready[1]);
      char byte = 0;
      const ssize_t got = read(ready[0], &byte, 1);
      close(ready[0]);
      return got == 1 ? child : -1;
    }
    close(ready[0]);
    alarm(20);  // never outlive a test that failed before stopping us
    // Forget the windows and listeners inherited from the test process (the
    // instance scope stays: it is what the two processes share).
    platform::detail::ResetWindows();
    platform::detail::ResetInstanceLinks();
    platform::detail::ResetMessageQueue();
    platform::detail::ResetSignals();
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = ChildProc;
    windowClass.lpszClassName = className.c_str();
    RegisterClassExA(&windowClass);
    const HWND window = Create(className.c_str(), title.c_str());
    if (window == nullptr) _exit(90);
    ShowWindow(window, SW_MINIMIZE);
    platform::SetSignalWindow(window);
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(91);
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    _exit(static_cast<int>(msg.wParam));
  }

  static int Stop(pid_t child) {
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(InstanceTest, AnotherProcessesWindowIsFoundAndServesRequests) {
  const pid_t owner = StartOwner("MyClass", "KIV Player");
  ASSERT_GT(owner, 0);

  EXPECT_EQ(FindWindowA("MyClass", "Missing"), nullptr);
  const HWND remote = FindWindowA("myclass", "KIV PLAYER");
  ASSERT_NE(remote, nullptr);
  EXPECT_FALSE(platform::detail::IsLiveOwnWindow(remote));
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), remote);

  char title[64];
  EXPECT_EQ(GetWindowTextA(remote, title, sizeof(title)), 10);
  EXPECT_STREQ(title, "KIV Player");
  EXPECT_TRUE(IsIconic(remote));
  ShowWindow(remote, SW_RESTORE);
  EXPECT_FALSE(IsIconic(remote));
  EXPECT_TRUE(SetForegroundWindow(remote));
  EXPECT_FALSE(PostMessageA(remote, WM_CLOSE, 0, 0));

  // SIGTERM ends the owner through WM_CLOSE and its window procedure.
  EXPECT_EQ(Stop(owner), 3);
  EXPECT_FALSE(IsIconic(remote));
  EXPECT_FALSE(SetForegroundWindow(remote));
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), nullptr);
}

TEST_F(InstanceTest, AStoppedOwnerIsNotWaitedForLong) {
  const char* saved = std::getenv("DISPLAY");
  const std::string display = saved != nullptr ? saved : "";
  setenv("DISPLAY", ":7", 1);  // no X server: the owner has no window there
  const pid_t owner = StartOwner("MyClass", "KIV Player");
  ASSERT_GT(owner, 0);
  kill(owner, SIGSTOP);
  const auto start = std::chrono::steady_clock::now();
  const HWND remote = FindWindowA("MyClass", "KIV Player");
  ASSERT_NE(remote, nullptr);
  long pid = 0;
  bool hasWindow = true;
  EXPECT_FALSE(platform::WindowOwnerNotAnswering(remote, &pid, &hasWindow));
  EXPECT_FALSE(IsIconic(remote));
  ShowWindow(remote, SW_RESTORE);
  EXPECT_FALSE(SetForegroundWindow(remote));
  // One unanswered request decides; the later ones do not wait again.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(platform::WindowOwnerNotAnswering(remote, &pid, &hasWindow));
  EXPECT_EQ(pid, owner);
  EXPECT_FALSE(hasWindow);
  kill(owner, SIGCONT);
  EXPECT_EQ(Stop(owner), 3);
  if (saved != nullptr) {
    setenv("DISPLAY", display.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
}

TEST_F(InstanceTest, OwnWindowIsFoundFirstAndANameIsPublishedOnce) {
  ASSERT_NE(Register("MyClass"), 0);
  const HWND own = Create("MyClass", "KIV Player");
  const pid_t owner = StartOwner("MyClass", "KIV Player");
  ASSERT_GT(owner, 0);
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), own);
  DestroyWindow(own);
  // The child could not take the name while this process held it.
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), nullptr);
  Stop(owner);
}

TEST_F(InstanceTest, LongNamesAreHashedAndChecked) {
  const std::string title(300, 'T');
  const std::string name = platform::detail::InstanceSocketName("MyClass", title);
  EXPECT_LE(name.size(), 107u);
  EXPECT_NE(name, platform::detail::InstanceSocketName("MyClass", title + "x"));
  EXPECT_EQ(platform::detail::InstanceSocketName("A-B", "C"), platform::detail::InstanceSocketName("a-b", "c"));
  EXPECT_NE(platform::detail::InstanceSocketName("A-B", "C"), platform::detail::InstanceSocketName("A", "B-C"));

  const pid_t owner = StartOwner("MyClass", title);
  ASSERT_GT(owner, 0);
  const HWND remote = FindWindowA("MyClass", title.c_str());
  EXPECT_EQ(FindWindowA("MyClass", (title + "x").c_str()), nullptr);
  ASSERT_NE(remote, nullptr);
  char text[400];
  EXPECT_EQ(GetWindowTextA(remote, text, sizeof(text)), 300);
  Stop(owner);
}

TEST_F(InstanceTest, WindowsAreFoundOnTheirOwnDisplayOnly) {
  const char* saved = std::getenv("DISPLAY");
  const std::string display = saved != nullptr ? saved : "";
  setenv("DISPLAY", ":7", 1);
  const pid_t owner = StartOwner("MyClass", "KIV Player");
  ASSERT_GT(owner, 0);
  setenv("DISPLAY", ":7.0", 1);  // the same display, another screen
  EXPECT_NE(FindWindowA("MyClass", "KIV Player"), nullptr);
  setenv("DISPLAY", ":8", 1);
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), nullptr);
  Stop(owner);
  if (saved != nullptr) {
    setenv("DISPLAY", display.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
}

}  // namespace
}  // namespace platform_test
