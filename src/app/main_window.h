// The hidden main window: platform check, single instance, window class,
// window creation and its window procedure.
#pragma once

#include "platform/win32.h"

namespace kiv {

constexpr char kMainClassName[] = "MyClass";
constexpr char kMainWindowTitle[] = "KIV Player";
constexpr UINT kMainClassStyle = CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE;
constexpr int kMainWindowWidth = 320;
constexpr int kMainWindowHeight = 240;

// The module handle that CreateMainWindow recorded.
extern HINSTANCE MainModule;

// 1 on Windows 95 or NT platforms; 0 after a box otherwise.
int CheckPlatform();
// 1 when another instance runs (and has been brought forward).
int FindOtherInstance(HINSTANCE previousInstance);
int RegisterMainClass(HINSTANCE module);
// Creates the window, stores it in MainWindow and hides it.
int CreateMainWindow(HINSTANCE module, int showState);
LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace kiv
