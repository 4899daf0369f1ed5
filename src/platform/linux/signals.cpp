// SIGINT and SIGTERM become WM_CLOSE for the signal window. The handler only
// writes a byte into a pipe (async-signal-safe); the message functions read
// the pipe and post the message on the main thread.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/linux/linux_internal.h"
#include "platform/linux/linux_platform.h"

namespace {

int pipeFds[2] = {-1, -1};
HWND signalWindow = nullptr;
bool handlersInstalled = false;
struct sigaction previousInt {};
struct sigaction previousTerm {};

void OnSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  // A full pipe already holds a wake-up; losing this byte changes nothing.
  [[maybe_unused]] const ssize_t written = write(pipeFds[1], &byte, 1);
  errno = savedErrno;
}

bool EnsurePipe() {
  if (pipeFds[0] >= 0) return true;
  return pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) == 0;
}

void InstallHandlers() {
  if (handlersInstalled || !EnsurePipe()) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a system call blocked on a slow or stuck file returns
  // EINTR instead of holding the quit back; full reads retry on EINTR.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);
  handlersInstalled = true;
}

void RestoreHandlers() {
  if (!handlersInstalled) return;
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  handlersInstalled = false;
}

// Empties the pipe; true when at least one signal had arrived.
bool TakeSignals() {
  if (pipeFds[0] < 0) return false;
  bool any = false;
  char buffer[64];
  for (;;) {
    const ssize_t got = read(pipeFds[0], buffer, sizeof(buffer));
    if (got > 0) {
      any = true;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return any;
  }
}

}  // namespace

namespace platform {

void SetSignalWindow(HWND window) {
  signalWindow = window;
  // Without a window the signals keep their usual effect (ending the process).
  if (window != nullptr) {
    InstallHandlers();
  } else {
    RestoreHandlers();
  }
}

}  // namespace platform

namespace platform::detail {

int SignalPipeFd() { return EnsurePipe() ? pipeFds[0] : -1; }

void DrainSignals() {
  if (!TakeSignals()) return;
  // Several signals before one drain ask for the same thing: one WM_CLOSE.
  if (signalWindow != nullptr) PostMessageA(signalWindow, WM_CLOSE, 0, 0);
}

void ResetSignals() {
  RestoreHandlers();
  signalWindow = nullptr;
  // A fresh pipe: a forked test child must not share its wake-ups.
  for (int& fd : pipeFds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

}  // namespace platform::detail
