// Pieces of the platform layer that its files share with each other and with
// their tests; nothing outside src/platform and tests/platform includes this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/keys.h"
#include "platform/win32.h"

namespace platform::detail {

// ---- Window handles ----------------------------------------------------------
// A handle is a tagged number, never a pointer: the low two bits say what it
// stands for, the rest is the window's serial (own windows), its X window id
// (windows of the X display) or an index into the table of windows found in
// other processes. Null stays null.
enum class HandleKind { kInvalid = 0, kOwn = 1, kX11 = 2, kRemote = 3 };
HWND MakeHandle(HandleKind kind, std::uint64_t payload);
HandleKind KindOf(HWND window);
std::uint64_t PayloadOf(HWND window);

// Class names and titles match without regard to ASCII case.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

// ---- Message queue -----------------------------------------------------------
void ResetMessageQueue();
// True when a posted message or WM_QUIT waits in the thread's queue.
bool MessagesWaiting();

// ---- Hooks -------------------------------------------------------------------
// Runs the keyboard hook chain; 0 when no hook is installed.
LRESULT CallKeyboardHooks(int code, WPARAM wParam, LPARAM lParam);
void ResetHooks();

// ---- Own windows ---------------------------------------------------------------
bool IsLiveOwnWindow(HWND window);
// The window that keystrokes go to: the focus window, else the first live
// window, else null.
HWND KeystrokeTarget();
std::vector<HWND> OwnTopLevelWindows();
// Local operations on an own window (also used to serve other processes).
BOOL OwnIsIconic(HWND window);
BOOL OwnShowWindow(HWND window, int showCommand);
BOOL OwnSetForegroundWindow(HWND window);
bool OwnWindowText(HWND window, std::string* className, std::string* title);
void ResetWindows();

// ---- Links to other processes ------------------------------------------------
// Request letters of the link protocol.
constexpr char kRequestIconic = 'I';
constexpr char kRequestRestore = 'R';
constexpr char kRequestShow = 'S';
constexpr char kRequestForeground = 'F';
constexpr char kRequestText = 'T';

// ---- Keystrokes ------------------------------------------------------------------
using KeyCode = ::platform::KeyCode;
// lParam of WM_KEYDOWN/WM_KEYUP.
LPARAM KeystrokeLParam(std::uint8_t scan, bool extended, bool previouslyDown, bool released);
// Posts WM_KEYDOWN/WM_KEYUP for a keystroke to the window that keystrokes go to.
void PostKeystroke(const KeyCode& code, bool previouslyDown, bool released);

}  // namespace platform::detail
