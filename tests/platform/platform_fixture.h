// A clean platform layer for each test, and a window procedure that records
// what it is sent.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/linux_platform.h"
#include "platform/win32.h"

namespace platform_test {

struct Received {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Filled by RecordingProc; WM_CREATE answers with createResult. The creation
// record lives only while CreateWindowExA runs, so it is copied here.
inline std::vector<Received> received;
inline LRESULT createResult = 0;
inline CREATESTRUCTA createdWith{};

inline LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  received.push_back(Received{window, message, wParam, lParam});
  if (message == WM_CREATE) {
    if (lParam != 0) createdWith = *reinterpret_cast<const CREATESTRUCTA*>(lParam);
    return createResult;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The window calls under test reach other processes and the X display.
    platform::SetDesktop(&platform::LinuxDesktop());
    platform::ResetForTests();
    received.clear();
    createResult = 0;
    createdWith = CREATESTRUCTA{};
  }
  void TearDown() override { platform::ResetForTests(); }

  static ATOM Register(const char* name, WNDPROC procedure = RecordingProc) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = name;
    return RegisterClassExA(&windowClass);
  }

  static HWND Create(const char* className, const char* title, DWORD style = WS_POPUP) {
    return CreateWindowExA(0, className, title, style, 0, 0, 320, 240, nullptr, nullptr, nullptr, nullptr);
  }
};

}  // namespace platform_test
