// What the window calls reach beyond this process: windows of other
// processes, the windows of the desktop's display, and the input sources that
// the message queue serves and waits on. The default desktop has none of
// them, so tests, kivtool and the browser build run the same window code
// without a display connection; kivplay installs the X11 desktop at start.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Runs before every message lookup: turns waiting inputs (signals,
  // requests of other processes, keystrokes) into messages.
  virtual void ServiceInputs() {}
  // Blocks until an input may be waiting, at most `sliceMs` where an input
  // can only be polled. The default has nothing to wait on and sleeps the slice.
  virtual void WaitForInputs(int sliceMs);

  // Makes a top-level window findable by other processes; false when it is
  // not published (no desktop, or the name is taken).
  virtual bool PublishWindow(HWND window, const std::string& className, const std::string& title);
  virtual void UnpublishWindow(HWND window);
  // A handle for another process's window of this class and title, or null.
  virtual HWND FindRemoteWindow(const char* className, const char* title);
  // One request (a letter of the link protocol) to the owner of a remote handle.
  virtual BOOL RemoteRequest(HWND window, char request, int argument);
  virtual bool RemoteText(HWND window, std::string* title);
  // True when the owner of a remote handle left a request unanswered.
  virtual bool RemoteUnanswered(HWND window, long* pid, bool* hasDisplayWindow);

  // Top-level client windows of the display, by their display ids.
  virtual std::vector<unsigned long> DisplayWindows();
  virtual bool DisplayWindowTitle(unsigned long window, std::string* title);
  virtual bool DisplayWindowIconic(unsigned long window);
  // Keeps one display connection open for the calls in between.
  virtual void BeginBatch() {}
  virtual void EndBatch() {}

  // Forgets links, inputs and published windows (tests only).
  virtual void ResetForTests() {}
};

// The desktop in use; the default one until SetDesktop installs another.
Desktop& CurrentDesktop();
// Installs `desktop` (null restores the default) and returns the previous one.
Desktop* SetDesktop(Desktop* desktop);

}  // namespace platform
