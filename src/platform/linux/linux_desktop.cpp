// The Linux desktop: the instance link for other processes' windows, the X
// display's windows, and the inputs that the message queue serves.
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/linux_internal.h"
#include "platform/linux/linux_platform.h"

namespace platform {
namespace {

class LinuxDesktopImpl : public Desktop {
 public:
  void ServiceInputs() override { detail::ServiceLinuxInputs(); }
  void WaitForInputs(int sliceMs) override { detail::WaitForLinuxInputs(sliceMs); }
  bool PublishWindow(HWND window, const std::string& className, const std::string& title) override {
    return detail::PublishWindow(window, className, title);
  }
  void UnpublishWindow(HWND window) override { detail::UnpublishWindow(window); }
  HWND FindRemoteWindow(const char* className, const char* title) override {
    return detail::FindRemoteWindow(className, title);
  }
  BOOL RemoteRequest(HWND window, char request, int argument) override {
    return detail::RemoteRequest(window, request, argument);
  }
  bool RemoteText(HWND window, std::string* title) override { return detail::RemoteText(window, title); }
  bool RemoteUnanswered(HWND window, long* pid, bool* hasDisplayWindow) override {
    return detail::RemoteUnanswered(window, pid, hasDisplayWindow);
  }
  std::vector<unsigned long> DisplayWindows() override { return detail::X11ClientWindows(); }
  bool DisplayWindowTitle(unsigned long window, std::string* title) override {
    return detail::X11WindowTitle(window, title);
  }
  bool DisplayWindowIconic(unsigned long window) override { return detail::X11WindowIconic(window); }
  void BeginBatch() override { detail::X11BeginBatch(); }
  void EndBatch() override { detail::X11EndBatch(); }
  void ResetForTests() override {
    detail::ResetSdlInput();
    detail::ResetSignals();
    detail::ResetInstanceLinks();
    // Windows created by tests live in a scope of this process (inherited by
    // children it forks), so that they never meet a running player.
    detail::SetInstanceScope("test" + std::to_string(getpid()));
  }
};

}  // namespace

Desktop& LinuxDesktop() {
  static LinuxDesktopImpl desktop;
  return desktop;
}

}  // namespace platform

namespace platform::detail {

void ServiceLinuxInputs() {
  DrainSignals();
  ServeInstanceRequests();
  if (SdlVideoUp()) PumpSdl();
}

void WaitForLinuxInputs(int sdlSliceMs) {
  std::vector<pollfd> fds;
  const int signalFd = SignalPipeFd();
  if (signalFd >= 0) fds.push_back(pollfd{signalFd, POLLIN, 0});
  AddInstancePollFds(&fds);
  // SDL 1.2 offers nothing to wait on without taking events out of its queue
  // (the shell polls those itself), so with video up we wait in slices.
  const int timeout = SdlVideoUp() ? sdlSliceMs : -1;
  if (fds.empty() && timeout < 0) {
    // No input source at all (the signal pipe could not be made): wait in
    // slices rather than spin.
    poll(nullptr, 0, 100);
    return;
  }
  // EINTR needs no care: the caller looks at its inputs again either way.
  poll(fds.data(), fds.size(), timeout);
}

}  // namespace platform::detail
