// Raising windows of a real X display that runs no window manager: an Xvfb
// of the test's own, which names its display through -displayfd.

// Google Test first: Xlib's headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_internal.h"

namespace platform_test {
namespace {

// An Xvfb for one test; DISPLAY names it while it runs.
class XServer {
 public:
  bool Start(std::string* why) {
    const char* saved = std::getenv("DISPLAY");
    hadDisplay_ = saved != nullptr;
    if (hadDisplay_) savedDisplay_ = saved;
    int fds[2];
    if (pipe(fds) != 0) {
      *why = "no pipe";
      return false;
    }
    const std::string fd = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
      // A test that dies does not leave its server behind.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(fds[0]);
      const int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) {
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
      }
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "320x240x24", "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      *why = "cannot fork";
      return false;
    }
    // The server writes its display number once it accepts connections.
    std::string number;
    char c = 0;
    pollfd ready{fds[0], POLLIN, 0};
    while (poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty() || c != '\n') {
      *why = "Xvfb did not start (is it installed?)";
      return false;
    }
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
    return true;
  }
  ~XServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (name_.empty()) return;
    if (hadDisplay_) {
      setenv("DISPLAY", savedDisplay_.c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
  }
  const std::string& name() const { return name_; }
  std::string number() const { return name_.substr(1); }

 private:
  pid_t pid_ = -1;
  std::string name_;
  bool hadDisplay_ = false;
  std::string savedDisplay_;
};

// Connects to or listens on display `number`'s abstract socket.
sockaddr_un DisplayAddress(const std::string& number, socklen_t* length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "/tmp/.X11-unix/X" + number;
  name.copy(address.sun_path + 1, sizeof(address.sun_path) - 2);
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// A display of its own that relays each connection to the X server, one at
// a time, but holds back an error that the server sends last until the
// client writes again: the error then arrives as late as it can, as over a
// slow link. A local server often answers while the client still flushes,
// which would hide a handler that stops catching errors too early.
class LateErrorRelay {
 public:
  bool Start(const std::string& serverNumber, std::string* why) {
    server_ = serverNumber;
    listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0 || pipe(stop_) != 0) {
      *why = "no socket for the relay";
      return false;
    }
    for (int number = 2400; number < 2700 && name_.empty(); ++number) {
      struct stat existing {};
      const std::string candidate = std::to_string(number);
      if (stat(("/tmp/.X11-unix/X" + candidate).c_str(), &existing) == 0) continue;
      socklen_t length = 0;
      const sockaddr_un address = DisplayAddress(candidate, &length);
      if (bind(listen_, reinterpret_cast<const sockaddr*>(&address), length) == 0) name_ = ":" + candidate;
    }
    if (name_.empty() || listen(listen_, 4) != 0) {
      *why = "no free display number for the relay";
      return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  ~LateErrorRelay() {
    if (thread_.joinable()) {
      const char stop = 1;
      if (write(stop_[1], &stop, 1) == 1) thread_.join();
    }
    for (const int fd : {listen_, stop_[0], stop_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  const std::string& name() const { return name_; }

 private:
  void Run() {
    for (;;) {
      pollfd wait[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(wait, 2, -1) < 0 || wait[1].revents != 0) return;
      const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      const bool stopped = Relay(client);
      close(client);
      if (stopped) return;
    }
  }

  // True when asked to stop.
  bool Relay(int client) {
    const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = DisplayAddress(server_, &length);
    if (server < 0 || connect(server, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
      if (server >= 0) close(server);
      return false;
    }
    bool bigEndian = false, orderKnown = false, setupDone = false, stopped = false;
    std::vector<std::uint8_t> fromServer, held;
    std::uint8_t buffer[4096];
    auto number = [&](std::size_t at, int bytes) {
      std::uint32_t value = 0;
      for (int i = 0; i < bytes; ++i) {
        const std::uint32_t byte = fromServer[at + static_cast<std::size_t>(bigEndian ? i : bytes - 1 - i)];
        value = value << 8 | byte;
      }
      return value;
    };
    for (;;) {
      pollfd wait[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(wait, 3, -1) < 0 || wait[2].revents != 0) {
        stopped = true;
        break;
      }
      if (wait[0].revents != 0) {
        const ssize_t got = read(client, buffer, sizeof buffer);
        if (got <= 0) break;
        if (!orderKnown) bigEndian = buffer[0] == 'B';
        orderKnown = true;
        // The client talks again: what was held reaches it first.
        if (!SendAll(client, held.data(), held.size())) break;
        held.clear();
        if (!SendAll(server, buffer, static_cast<std::size_t>(got))) break;
      }
      if (wait[1].revents != 0) {
        const ssize_t got = read(server, buffer, sizeof buffer);
        if (got <= 0) break;
        fromServer.insert(fromServer.end(), buffer, buffer + got);
        bool lost = false;
        // Whole messages only: the setup answer, then 32 bytes each plus the
        // extra length of a reply (1) or a generic event (35).
        for (;;) {
          std::size_t size = 0;
          if (!setupDone) {
            if (fromServer.size() < 8) break;
            size = 8 + 4 * static_cast<std::size_t>(number(6, 2));
          } else {
            if (fromServer.size() < 32) break;
            const int type = fromServer[0] & 0x7F;
            size = 32 + (type == 1 || type == 35 ? 4 * static_cast<std::size_t>(number(4, 4)) : 0);
          }
          if (fromServer.size() < size) break;
          const bool error = setupDone && fromServer[0] == 0;
          held.insert(held.end(), fromServer.begin(), fromServer.begin() + static_cast<std::ptrdiff_t>(size));
          fromServer.erase(fromServer.begin(), fromServer.begin() + static_cast<std::ptrdiff_t>(size));
          setupDone = true;
          if (!error) {
            lost = !SendAll(client, held.data(), held.size());
            held.clear();
            if (lost) break;
          }
        }
        if (lost) break;
      }
    }
    close(server);
    return stopped;
  }

  std::string server_;
  std::string name_;
  int listen_ = -1;
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

// Stands in for the program's own X error handler, and for Xlib's default
// one, which ends the process: an error that reaches it is counted.
int errorsSeen = 0;
int CountXError(Display*, XErrorEvent*) {
  ++errorsSeen;
  return 0;
}

class X11DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(server_.Start(&why)) << why;
    display_ = XOpenDisplay(server_.name().c_str());
    ASSERT_NE(display_, nullptr);
    // The code under test reaches the server through the relay.
    ASSERT_TRUE(relay_.Start(server_.number(), &why)) << why;
    setenv("DISPLAY", relay_.name().c_str(), 1);
    errorsSeen = 0;
    previousHandler_ = XSetErrorHandler(CountXError);
  }
  void TearDown() override {
    if (display_ != nullptr) {
      XSetErrorHandler(previousHandler_);
      XCloseDisplay(display_);
    }
  }

  Window NewWindow(Window parent) {
    return XCreateSimpleWindow(display_, parent, 0, 0, 40, 30, 0, 0, 0);
  }
  Window Root() const { return DefaultRootWindow(display_); }
  int MapState(Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display_, window, &attributes);
    return attributes.map_state;
  }
  Window Focus() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus;
  }
  Window Topmost() {
    Window root = None, parent = None, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(display_, Root(), &root, &parent, &children, &count);
    const Window top = count > 0 ? children[count - 1] : None;
    if (children != nullptr) XFree(children);
    return top;
  }

  XServer server_;
  LateErrorRelay relay_;  // stopped before the server
  Display* display_ = nullptr;
  int (*previousHandler_)(Display*, XErrorEvent*) = nullptr;
};

TEST_F(X11DesktopTest, RaiseShowsTheWindowOnTopWithTheFocus) {
  // Below another window, or never shown: either way it ends up viewable,
  // on top and with the keyboard focus, which no window manager gives here.
  const Window hidden = NewWindow(Root());
  const Window below = NewWindow(Root());
  const Window above = NewWindow(Root());
  XMapWindow(display_, below);
  XMapWindow(display_, above);
  XSync(display_, False);
  ASSERT_EQ(Topmost(), above);

  EXPECT_TRUE(platform::detail::X11RaiseWindow(below));
  EXPECT_EQ(Topmost(), below);
  EXPECT_EQ(Focus(), below);

  EXPECT_TRUE(platform::detail::X11RaiseWindow(hidden));
  EXPECT_EQ(MapState(hidden), IsViewable);
  EXPECT_EQ(Topmost(), hidden);
  EXPECT_EQ(Focus(), hidden);
  EXPECT_EQ(errorsSeen, 0);
}

TEST_F(X11DesktopTest, RaisingAWindowThatIsGoneOrCannotTakeTheFocusIsHarmless) {
  // The window closed between being found and being raised.
  const Window gone = NewWindow(Root());
  XDestroyWindow(display_, gone);
  XSync(display_, False);
  platform::detail::X11RaiseWindow(gone);
  XSync(display_, False);
  EXPECT_EQ(errorsSeen, 0) << "an error of the raise reached the program's handler";

  errorsSeen = 0;
  // Mapped, but inside an unmapped parent: not viewable, so the focus is
  // refused. The error stays with the raise.
  const Window parent = NewWindow(Root());
  const Window child = NewWindow(parent);
  const Window focused = NewWindow(Root());
  XMapWindow(display_, focused);
  XSync(display_, False);
  XSetInputFocus(display_, focused, RevertToParent, CurrentTime);
  XSync(display_, False);
  platform::detail::X11RaiseWindow(child);
  XSync(display_, False);
  EXPECT_EQ(errorsSeen, 0) << "an error of the raise reached the program's handler";
  EXPECT_EQ(MapState(child), IsUnviewable);
  EXPECT_EQ(Focus(), focused);
}

}  // namespace
}  // namespace platform_test
