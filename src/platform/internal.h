// Pieces of the platform layer that its files share with each other and with
// their tests; nothing outside src/platform and tests/platform includes this.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

union SDL_Event;

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
// Work that every message function does first: posts WM_CLOSE for caught
// signals, serves requests from other processes, pumps SDL (which runs the
// keyboard filter).
void ServiceInputs();
// Blocks until a signal, a request or SDL input may be waiting; with SDL video
// up it returns after `sdlSliceMs` so that SDL can be pumped again.
void WaitForInputs(int sdlSliceMs);
void ResetMessageQueue();

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

// ---- Windows of other processes (instance link) ------------------------------
// Publishes a top-level window under its socket name (user, X display, class
// and title); false when the name is taken (another process's window of the
// same class and title on the same display).
bool PublishWindow(HWND window, const std::string& className, const std::string& title);
void UnpublishWindow(HWND window);
// A handle for another process's window of this class and title, or null.
HWND FindRemoteWindow(const char* className, const char* title);
// Request letters of the link protocol.
constexpr char kRequestIconic = 'I';
constexpr char kRequestRestore = 'R';
constexpr char kRequestShow = 'S';
constexpr char kRequestForeground = 'F';
constexpr char kRequestText = 'T';
// Sends one request to the owner of a remote handle and waits for its answer.
BOOL RemoteRequest(HWND window, char request, int argument);
bool RemoteText(HWND window, std::string* title);
// True when the owner of a remote handle left a request unanswered; gives its
// process id and whether it has a top-level window on the X display.
bool RemoteUnanswered(HWND window, long* pid, bool* hasWindow);
void ServeInstanceRequests();
void AddInstancePollFds(std::vector<pollfd>* fds);
// The socket name for a class and title (exposed for tests).
std::string InstanceSocketName(const std::string& className, const std::string& title);
// Tests get a scope of their own so that they never meet a real instance.
void SetInstanceScope(const std::string& scope);
void ResetInstanceLinks();

// ---- X display -------------------------------------------------------------------
// Top-level client windows of the X display (empty without a display).
std::vector<unsigned long> X11ClientWindows();
bool X11WindowTitle(unsigned long window, std::string* title);
bool X11WindowIconic(unsigned long window);
// Keeps one X connection open for the calls in between (EnumWindows' callback
// reads titles through it).
void X11BeginBatch();
void X11EndBatch();
// The SDL window: whether it is iconified, and raising it (de-iconified first).
bool SdlWindowIconic(bool* iconic);
bool RaiseSdlWindow();
// The top-level client window whose _NET_WM_PID is `pid`.
bool X11ProcessWindow(unsigned long pid, unsigned long* window);
// De-iconifies and raises a window of the display, asking the window manager
// to activate it when one runs.
bool X11RaiseWindow(unsigned long window);
// Ends the process with status 255 and one line on stderr when the connection
// to the X display is lost, instead of Xlib's exit() under running threads.
void InstallDisplayLossHandler();

// ---- SDL input -----------------------------------------------------------------
bool SdlVideoUp();
void PumpSdl();
// The SDL event filter that turns keystrokes into messages.
int SdlInputFilter(const SDL_Event* event);
struct KeyCode {
  std::uint8_t scan;  // PC scan code, set 1
  bool extended;      // E0-prefixed key
  WPARAM vk;          // virtual-key code
};
// The PC key of an SDL 1.2 key symbol; false for symbols no PC key gives.
bool LookupKey(int sdlKey, bool numLock, KeyCode* code);
// lParam of WM_KEYDOWN/WM_KEYUP.
LPARAM KeystrokeLParam(std::uint8_t scan, bool extended, bool previouslyDown, bool released);
void ResetSdlInput();

// ---- Signals -----------------------------------------------------------------
int SignalPipeFd();
void DrainSignals();
void ResetSignals();

}  // namespace platform::detail
