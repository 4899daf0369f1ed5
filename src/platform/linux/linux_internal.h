// Pieces of the Linux backend of the platform layer that its files share
// with each other and with their tests.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/internal.h"

union SDL_Event;

namespace platform::detail {

// ---- Windows of other processes (instance link) ------------------------------
// Publishes a top-level window under its socket name (user, X display, class
// and title); false when the name is taken (another process's window of the
// same class and title on the same display).
bool PublishWindow(HWND window, const std::string& className, const std::string& title);
void UnpublishWindow(HWND window);
// A handle for another process's window of this class and title, or null.
HWND FindRemoteWindow(const char* className, const char* title);
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
// The PC key of an SDL 1.2 key symbol; false for symbols no PC key gives.
bool LookupKey(int sdlKey, bool numLock, KeyCode* code);
void ResetSdlInput();

// ---- Signals -----------------------------------------------------------------
int SignalPipeFd();
void DrainSignals();
void ResetSignals();

// ---- Message queue ---------------------------------------------------------------
// Posts WM_CLOSE for caught signals, serves requests from other processes,
// pumps SDL (which runs the keyboard filter).
void ServiceLinuxInputs();
// Blocks until a signal, a request or SDL input may be waiting; with SDL video
// up it returns after `sdlSliceMs` so that SDL can be pumped again.
void WaitForLinuxInputs(int sdlSliceMs);

}  // namespace platform::detail
