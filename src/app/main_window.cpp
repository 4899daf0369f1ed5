#include "app/main_window.h"

#include <cstdio>
#include <cstring>

#include "app/startup.h"
#include "platform/platform.h"
#include "playback/frame_clock.h"
#include "shell/shell_flags.h"

namespace kiv {

HINSTANCE MainModule = nullptr;

int CheckPlatform() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExA(&info)) {
    MessageBoxA(nullptr, "Failed to get OS version information", "Serious failure", kSeriousStyle);
    return 0;
  }
  if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS || info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    return 1;
  }
  MessageBoxA(nullptr, "This program requires either Windows95 or Windows NT", "Serious failure",
              kSeriousStyle);
  return 0;
}

int FindOtherInstance(HINSTANCE previousInstance) {
  if (previousInstance != nullptr) {
    return 1;
  }
  HWND other = FindWindowA(kMainClassName, kMainWindowTitle);
  if (other == nullptr) {
    return 0;
  }
  if (IsIconic(other)) {
    ShowWindow(other, SW_RESTORE);
  }
  SetForegroundWindow(other);
  // A stopped or stuck player has had its window raised all the same; one
  // without a window yet cannot be shown, which the user is told.
  long pid = 0;
  bool hasWindow = false;
  if (platform::WindowOwnerNotAnswering(other, &pid, &hasWindow) && !hasWindow) {
    std::fprintf(stderr, "kivplay: the player already running (process %ld) is not answering and has no window yet\n",
                 pid);
  }
  return 1;
}

int RegisterMainClass(HINSTANCE module) {
  WNDCLASSEXA windowClass;
  std::memset(&windowClass, 0, sizeof(windowClass));
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = kMainClassStyle;
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = module;
  // The module holds no resources under these names: the handles come back
  // null and the class is registered with them all the same.
  windowClass.hIcon = LoadIconA(module, "PROGRAMICON");
  windowClass.hCursor = LoadCursorA(module, IDC_ARROW);
  windowClass.hbrBackground = nullptr;
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = kMainClassName;
  windowClass.hIconSm = LoadIconA(module, "SMALLPROGRAMICON");
  if (RegisterClassExA(&windowClass) == 0) {
    MessageBoxA(nullptr, "Failed to register program class", "Serious alert", kSeriousStyle);
    return 0;
  }
  return 1;
}

int CreateMainWindow(HINSTANCE module, int /*showState*/) {
  MainModule = module;
  MainWindow = CreateWindowExA(WS_EX_TOPMOST, kMainClassName, kMainWindowTitle, WS_POPUP | WS_VISIBLE, 0, 0,
                               kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, module, nullptr);
  if (MainWindow == nullptr) {
    MessageBoxA(nullptr, "Failed to create main window", "Serious alert", kSeriousStyle);
    return 0;
  }
  SetFocus(MainWindow);
  // SDL draws into a window of its own; this one only anchors the instance.
  ShowWindow(MainWindow, SW_HIDE);
  return 1;
}

LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_ACTIVATE:
      // Time spent away is not owed as frames.
      TheFrameClock().ElapsedTicks = 0;
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_ACTIVATEAPP:
      // Only an activation is taken; losing activation here does not stop
      // the ticks (SDL's own activation events do that).
      if (wParam != 0) {
        AppActive = static_cast<std::int32_t>(wParam);
      }
      return 0;
    case WM_SETCURSOR:
      SetCursor(nullptr);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace kiv
