// Top-level windows seen from other processes. Each one listens on an
// abstract Unix socket named from the user, the X display, its class and its
// title (the name
// vanishes with the process: no stale files after a crash). FindWindowA in
// another process connects to that name; IsIconic, ShowWindow and
// SetForegroundWindow on the handle it returns are one-letter requests that
// the owner answers from its message pump.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/linux/linux_internal.h"
#include "platform/linux/linux_platform.h"

namespace {

using platform::detail::HandleKind;

struct Listener {
  HWND window;
  int fd;
};

struct Pending {
  HWND window;
  int fd;
  std::uint64_t acceptedMs;
  std::string request;
};

struct RemoteWindow {
  std::string socketName;
  std::string className;
  std::string title;
  pid_t pid = 0;             // the owner, as the kernel names the listener's peer
  bool unanswered = false;   // a request went unanswered: the owner is stopped or stuck
};

std::vector<Listener> listeners;
std::vector<Pending> pendings;
std::vector<RemoteWindow> remotes;
std::string scope;

constexpr std::size_t kMaxPending = 16;
constexpr std::uint64_t kPendingLimitMs = 2000;
// An owner in its message pump answers within a tick; one that has not
// answered by then is stopped or stuck, and its window is then raised through
// the X server directly.
constexpr long kReplyTimeoutMs = 400;
constexpr std::size_t kMaxReply = 1024;

std::uint64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

// Lower-case ASCII (class and title match without regard to case); every
// byte but letters, digits, blank, '.' and '_' as %XX, so that the '-'
// between the parts is never ambiguous.
std::string Escape(const std::string& text) {
  std::string result;
  for (const char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == '_') {
      result.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02X", c);
      result += hex;
    }
  }
  return result;
}

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

bool FillAddress(const std::string& name, sockaddr_un* address, socklen_t* length) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof(address->sun_path)) return false;
  std::memcpy(address->sun_path + 1, name.data(), name.size());  // sun_path[0] = 0: abstract
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return true;
}

bool PeerIsUs(int fd, pid_t* pid = nullptr) {
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  if (pid != nullptr) *pid = credentials.pid;
  return credentials.uid == geteuid();
}

// Abstract names are open to every user of the machine: talk only to
// processes of our own user, both ways.
int Connect(const std::string& name, pid_t* pid = nullptr) {
  sockaddr_un address;
  socklen_t length = 0;
  if (!FillAddress(name, &address, &length)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // The send timeout also bounds a connect to a full backlog.
  timeval timeout{0, kReplyTimeoutMs * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || !PeerIsUs(fd, pid)) {
    close(fd);
    return -1;
  }
  return fd;
}

// One request, answered by bytes up to the owner's close; false when the
// owner is gone or did not answer in time (*reached then tells whether it
// was there at all).
bool Exchange(const std::string& name, char request, int argument, std::string* reply,
              bool* reached = nullptr, pid_t* pid = nullptr) {
  if (reached != nullptr) *reached = false;
  const int fd = Connect(name, pid);
  if (fd < 0) return false;
  if (reached != nullptr) *reached = true;
  const char message[2] = {request, static_cast<char>(argument)};
  bool ok = send(fd, message, sizeof(message), MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof(message));
  reply->clear();
  while (ok) {
    char buffer[256];
    const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    reply->append(buffer, static_cast<std::size_t>(got));
    if (reply->size() > kMaxReply) ok = false;
  }
  close(fd);
  return ok && !reply->empty();
}

std::string Answer(HWND window, char request, int argument) {
  using namespace platform::detail;
  switch (request) {
    case kRequestIconic: {
      bool iconic = false;
      if (!SdlWindowIconic(&iconic)) iconic = OwnIsIconic(window) != FALSE;
      return iconic ? "1" : "0";
    }
    case kRequestRestore: {
      const BOOL wasVisible = OwnShowWindow(window, SW_RESTORE);
      RaiseSdlWindow();
      return wasVisible ? "1" : "0";
    }
    case kRequestShow:
      return OwnShowWindow(window, argument) ? "1" : "0";
    case kRequestForeground: {
      const BOOL done = OwnSetForegroundWindow(window);
      RaiseSdlWindow();
      return done ? "1" : "0";
    }
    case kRequestText: {
      std::string className;
      std::string title;
      if (!OwnWindowText(window, &className, &title)) return "";
      return className + '\0' + title;
    }
    default:
      return "";
  }
}

void ClosePendingAt(std::size_t index) {
  close(pendings[index].fd);
  pendings.erase(pendings.begin() + static_cast<std::ptrdiff_t>(index));
}

void AcceptFrom(const Listener& listener) {
  for (;;) {
    const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (!PeerIsUs(fd) || pendings.size() >= kMaxPending) {
      close(fd);
      continue;
    }
    pendings.push_back(Pending{listener.window, fd, NowMs(), {}});
  }
}

}  // namespace

namespace platform::detail {

// The X display the process shows on, without its screen number (":1.0"
// and ":1" are one display); empty without a display.
static std::string DisplayName() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) return "";
  std::string name = display;
  const std::size_t colon = name.rfind(':');
  const std::size_t dot = name.find('.', colon == std::string::npos ? 0 : colon);
  if (colon != std::string::npos && dot != std::string::npos) name.resize(dot);
  return name;
}

std::string InstanceSocketName(const std::string& className, const std::string& title) {
  // Windows are found on the same display only, as a desktop's windows are:
  // a player on another X server (another session, a test's Xvfb) is not
  // this display's instance.
  // Built by appending: GCC 12 warns falsely (-Wrestrict) about
  // `"literal" + std::string` in optimised builds.
  std::string prefix = "kivplay-";
  prefix += std::to_string(geteuid());
  if (!scope.empty()) {
    prefix += '.';
    prefix += Escape(scope);
  }
  prefix += '@';
  prefix += Escape(DisplayName());
  std::string name = prefix;
  for (const std::string& part : {Escape(className), Escape(title)}) {
    name += '-';
    name += part;
  }
  constexpr std::size_t kMaxName = sizeof(sockaddr_un::sun_path) - 1;
  if (name.size() <= kMaxName) return name;
  // Too long for a socket name: a hash of the lower-cased parts stands in
  // (FindWindowA then asks the owner for its real class and title).
  std::string lowered = className + '\0' + title;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  char hash[24];
  std::snprintf(hash, sizeof(hash), "#%016llx", static_cast<unsigned long long>(Fnv1a(lowered)));
  return prefix + "-" + hash;
}

void SetInstanceScope(const std::string& newScope) { scope = newScope; }

bool PublishWindow(HWND window, const std::string& className, const std::string& title) {
  sockaddr_un address;
  socklen_t length = 0;
  if (!FillAddress(InstanceSocketName(className, title), &address, &length)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // A name in use belongs to another process's window of the same name.
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return false;
  }
  listeners.push_back(Listener{window, fd});
  return true;
}

void UnpublishWindow(HWND window) {
  for (std::size_t i = pendings.size(); i-- > 0;) {
    if (pendings[i].window == window) ClosePendingAt(i);
  }
  for (std::size_t i = listeners.size(); i-- > 0;) {
    if (listeners[i].window == window) {
      close(listeners[i].fd);
      listeners.erase(listeners.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

HWND FindRemoteWindow(const char* className, const char* title) {
  const std::string name = InstanceSocketName(className, title);
  pid_t pid = 0;
  if (name.find('#') != std::string::npos) {  // escaped names never hold '#'
    // A hashed name: make sure the owner's window really has this name.
    std::string reply;
    if (!Exchange(name, kRequestText, 0, &reply, nullptr, &pid)) return nullptr;
    const std::size_t split = reply.find('\0');
    if (split == std::string::npos || !EqualsIgnoringCase(reply.substr(0, split), className) ||
        !EqualsIgnoringCase(reply.substr(split + 1), title)) {
      return nullptr;
    }
  } else {
    // The name is the window's: a listener there is the window. Its owner
    // need not be in its message pump to be found.
    const int fd = Connect(name, &pid);
    if (fd < 0) return nullptr;
    close(fd);
  }
  for (std::size_t i = 0; i < remotes.size(); ++i) {
    if (remotes[i].socketName == name) {
      if (remotes[i].pid != pid) remotes[i] = RemoteWindow{name, className, title, pid, false};
      return MakeHandle(HandleKind::kRemote, i + 1);
    }
  }
  remotes.push_back(RemoteWindow{name, className, title, pid, false});
  return MakeHandle(HandleKind::kRemote, remotes.size());
}

// What the X server can do for a request that the owner left unanswered:
// its top-level window is found by process id and asked about or raised.
BOOL RequestThroughX(const RemoteWindow& remote, char request) {
  unsigned long window = 0;
  if (remote.pid <= 0 || !X11ProcessWindow(static_cast<unsigned long>(remote.pid), &window)) return FALSE;
  switch (request) {
    case kRequestIconic: return X11WindowIconic(window) ? TRUE : FALSE;
    case kRequestRestore:
    case kRequestForeground: return X11RaiseWindow(window) ? TRUE : FALSE;
    default: return FALSE;
  }
}

BOOL RemoteRequest(HWND window, char request, int argument) {
  const std::uint64_t index = PayloadOf(window);
  if (KindOf(window) != HandleKind::kRemote || index == 0 || index > remotes.size()) return FALSE;
  RemoteWindow& remote = remotes[index - 1];
  // An owner that left one request unanswered is not waited for again.
  if (remote.unanswered) return RequestThroughX(remote, request);
  std::string reply;
  bool reached = false;
  if (!Exchange(remote.socketName, request, argument, &reply, &reached)) {
    if (!reached) return FALSE;  // gone
    remote.unanswered = true;
    return RequestThroughX(remote, request);
  }
  return reply == "1" ? TRUE : FALSE;
}

bool RemoteUnanswered(HWND window, long* pid, bool* hasWindow) {
  const std::uint64_t index = PayloadOf(window);
  if (KindOf(window) != HandleKind::kRemote || index == 0 || index > remotes.size()) return false;
  const RemoteWindow& remote = remotes[index - 1];
  if (!remote.unanswered) return false;
  unsigned long found = 0;
  *pid = remote.pid;
  *hasWindow = remote.pid > 0 && X11ProcessWindow(static_cast<unsigned long>(remote.pid), &found);
  return true;
}

bool RemoteText(HWND window, std::string* title) {
  const std::uint64_t index = PayloadOf(window);
  if (KindOf(window) != HandleKind::kRemote || index == 0 || index > remotes.size()) return false;
  std::string reply;
  if (!Exchange(remotes[index - 1].socketName, kRequestText, 0, &reply)) return false;
  const std::size_t split = reply.find('\0');
  if (split == std::string::npos) return false;
  *title = reply.substr(split + 1);
  return true;
}

void ServeInstanceRequests() {
  if (listeners.empty() && pendings.empty()) return;
  const std::vector<Listener> current = listeners;
  for (const Listener& listener : current) AcceptFrom(listener);
  const std::uint64_t now = NowMs();
  for (std::size_t i = pendings.size(); i-- > 0;) {
    Pending& pending = pendings[i];
    char buffer[2];
    const ssize_t got = recv(pending.fd, buffer, 2 - pending.request.size(), 0);
    if (got > 0) pending.request.append(buffer, static_cast<std::size_t>(got));
    const bool waiting = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    if (pending.request.size() < 2) {
      if (got == 0 || (got < 0 && !waiting) || now - pending.acceptedMs > kPendingLimitMs) ClosePendingAt(i);
      continue;
    }
    // Serving may destroy windows and with them pending requests: take this
    // one out of the list first.
    const Pending served = pending;
    pendings.erase(pendings.begin() + static_cast<std::ptrdiff_t>(i));
    const std::string answer = Answer(served.window, served.request[0],
                                      static_cast<unsigned char>(served.request[1]));
    if (!answer.empty()) send(served.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    close(served.fd);
    if (i > pendings.size()) i = pendings.size();
  }
}

void AddInstancePollFds(std::vector<pollfd>* fds) {
  for (const Listener& listener : listeners) fds->push_back(pollfd{listener.fd, POLLIN, 0});
  for (const Pending& pending : pendings) fds->push_back(pollfd{pending.fd, POLLIN, 0});
}

void ResetInstanceLinks() {
  for (const Pending& pending : pendings) close(pending.fd);
  for (const Listener& listener : listeners) close(listener.fd);
  pendings.clear();
  listeners.clear();
  remotes.clear();
}

}  // namespace platform::detail
