// The X display: its top-level client windows with their titles, and raising
// the SDL window. Each use opens a connection of its own so that SDL's is
// never disturbed, and X errors (a window gone meanwhile) are caught, not fatal.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/linux_internal.h"
#include "platform/linux/linux_platform.h"

namespace {

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// An X connection with X errors ignored while it is open.
class XConnection {
 public:
  XConnection() {
    display_ = XOpenDisplay(nullptr);
    if (display_ != nullptr) previousHandler_ = XSetErrorHandler(IgnoreXError);
  }
  ~XConnection() {
    if (display_ == nullptr) return;
    XSync(display_, False);  // errors of our requests arrive while ignored
    XCloseDisplay(display_);
    XSetErrorHandler(previousHandler_);
  }
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;
  Display* get() const { return display_; }

 private:
  Display* display_ = nullptr;
  int (*previousHandler_)(Display*, XErrorEvent*) = nullptr;
};

// The display's name for the line written when its connection is lost
// (copied beforehand: the handler must not allocate).
char lostDisplayName[256] = "";

void WriteAll(const char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0) {
    const ssize_t written = write(STDERR_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

// Xlib's own handler calls exit(), which unloads libraries that SDL's threads
// are still running in. End at once instead, without exit handlers.
[[noreturn]] int OnDisplayLost(Display*) {
  WriteAll("Fatal error: lost the connection to the X display ");
  WriteAll(lostDisplayName);
  WriteAll("\n");
  _exit(255);
}

XConnection* batch = nullptr;
int batchDepth = 0;

// Runs `use` on the batch connection, or on a connection of its own.
template <typename Use>
auto WithDisplay(Use use) {
  if (batch != nullptr && batch->get() != nullptr) return use(batch->get());
  XConnection connection;
  return use(connection.get());
}

// One window property, read whole up to `maxLongs` 32-bit units.
struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned char* data = nullptr;
  Property() = default;
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;
  ~Property() {
    if (data != nullptr) XFree(data);
  }
  bool Read(Display* display, Window window, Atom property, Atom wanted, long maxLongs) {
    unsigned long after = 0;
    return XGetWindowProperty(display, window, property, 0, maxLongs, False, wanted, &type, &format, &count,
                              &after, &data) == Success;
  }
};

bool HasProperty(Display* display, Window window, Atom property) {
  Property value;
  return value.Read(display, window, property, AnyPropertyType, 0) && value.type != None;
}

// The client window inside a top-level window: the first one, depth first,
// that carries WM_STATE (a window manager's frame holds it); none below means
// the top-level window is its own client (no window manager).
Window FindClient(Display* display, Window window, Atom wmState, int depth) {
  if (HasProperty(display, window, wmState)) return window;
  constexpr int kMaxDepth = 8;
  if (depth >= kMaxDepth) return None;
  Window root = None;
  Window parent = None;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return None;
  Window found = None;
  for (unsigned int i = 0; i < count && found == None; ++i) {
    found = FindClient(display, children[i], wmState, depth + 1);
  }
  if (children != nullptr) XFree(children);
  return found;
}

bool ReadUtf8Name(Display* display, Window window, std::string* title) {
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  constexpr long kMaxLongs = 1024;  // titles longer than 4 KiB are cut
  Property name;
  if (!name.Read(display, window, netWmName, utf8, kMaxLongs)) return false;
  if (name.data == nullptr || name.type != utf8 || name.format != 8) return false;
  const auto* text = reinterpret_cast<const char*>(name.data);
  title->assign(text, strnlen(text, name.count));
  return true;
}

bool ReadWmName(Display* display, Window window, std::string* title) {
  XTextProperty property{};
  if (XGetWMName(display, window, &property) == 0 || property.value == nullptr) return false;
  bool ok = false;
  if (property.encoding == XA_STRING && property.format == 8) {
    // Latin-1 text; written out as UTF-8 like the other titles.
    title->clear();
    for (unsigned long i = 0; i < property.nitems && property.value[i] != 0; ++i) {
      const unsigned char c = property.value[i];
      if (c < 0x80) {
        title->push_back(static_cast<char>(c));
      } else {
        title->push_back(static_cast<char>(0xC0 | (c >> 6)));
        title->push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    ok = true;
  } else {
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display, &property, &list, &count) >= Success && list != nullptr) {
      if (count > 0 && list[0] != nullptr) {
        title->assign(list[0]);
        ok = true;
      }
      XFreeStringList(list);
    }
  }
  XFree(property.value);
  return ok;
}

// The X window of SDL's video surface, or None.
Window SdlWindow() {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0 || SDL_GetVideoSurface() == nullptr) return None;
  SDL_SysWMinfo info;
  std::memset(&info, 0, sizeof(info));
  SDL_VERSION(&info.version);
  if (SDL_GetWMInfo(&info) <= 0) return None;
  return info.info.x11.window;
}

}  // namespace

namespace platform::detail {

void X11BeginBatch() {
  if (batchDepth++ == 0) batch = new XConnection();
}

void X11EndBatch() {
  if (batchDepth == 0) return;
  if (--batchDepth == 0) {
    delete batch;
    batch = nullptr;
  }
}

std::vector<unsigned long> X11ClientWindows() {
  return WithDisplay([](Display* display) {
    std::vector<unsigned long> result;
    if (display == nullptr) return result;
    const Window rootWindow = DefaultRootWindow(display);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, rootWindow, &root, &parent, &children, &count) == 0) return result;
    // Bottom to top in the tree; the topmost first, as a window list is read.
    for (unsigned int i = count; i-- > 0;) {
      const Window client = FindClient(display, children[i], wmState, 0);
      result.push_back(client != None ? client : children[i]);
    }
    if (children != nullptr) XFree(children);
    return result;
  });
}

bool X11WindowTitle(unsigned long window, std::string* title) {
  return WithDisplay([window, title](Display* display) {
    if (display == nullptr) return false;
    if (ReadUtf8Name(display, window, title)) return true;
    if (ReadWmName(display, window, title)) return true;
    // A window without a title has the empty one.
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) return false;
    title->clear();
    return true;
  });
}

bool X11WindowIconic(unsigned long window) {
  return WithDisplay([window](Display* display) {
    if (display == nullptr) return false;
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    Property state;
    if (!state.Read(display, window, wmState, wmState, 2)) return false;
    // Format-32 properties come as longs in Xlib.
    return state.data != nullptr && state.format == 32 && state.count >= 1 &&
           reinterpret_cast<const long*>(state.data)[0] == IconicState;
  });
}

bool SdlWindowIconic(bool* iconic) {
  if (SdlWindow() == None) return false;
  *iconic = (SDL_GetAppState() & SDL_APPACTIVE) == 0;
  return true;
}

bool RaiseSdlWindow() {
  const Window window = SdlWindow();
  if (window == None) return false;
  return X11RaiseWindow(window);
}

bool X11ProcessWindow(unsigned long pid, unsigned long* window) {
  const std::vector<unsigned long> clients = X11ClientWindows();
  return WithDisplay([&clients, pid, window](Display* display) {
    if (display == nullptr) return false;
    const Atom netWmPid = XInternAtom(display, "_NET_WM_PID", False);
    for (const unsigned long client : clients) {
      Property value;
      if (!value.Read(display, client, netWmPid, XA_CARDINAL, 1)) continue;
      // Format-32 properties come as longs in Xlib.
      if (value.data != nullptr && value.format == 32 && value.count == 1 &&
          static_cast<unsigned long>(reinterpret_cast<const long*>(value.data)[0]) == pid) {
        *window = client;
        return true;
      }
    }
    return false;
  });
}

bool X11RaiseWindow(unsigned long window) {
  XConnection connection;
  Display* display = connection.get();
  if (display == nullptr) return false;
  const Window root = DefaultRootWindow(display);
  // Mapping an iconified window restores it; raising puts it on top.
  XMapRaised(display, window);
  // A window manager decides about focus and stacking: ask it as a pager
  // would (source 2), since the user asked for this window.
  if (HasProperty(display, root, XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False))) {
    XEvent event;
    std::memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = None;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  } else {
    // Without a window manager the foreground window is the one with the
    // keyboard focus (a window not yet viewable refuses it: ignored).
    XSync(display, False);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
  }
  XFlush(display);
  return true;
}

void InstallDisplayLossHandler() {
  if (lostDisplayName[0] == '\0') {
    const char* name = std::getenv("DISPLAY");
    std::strncat(lostDisplayName, name != nullptr ? name : "(default)", sizeof(lostDisplayName) - 1);
  }
  // The handler is one for the whole process: this also replaces one that
  // SDL set when it opened its own connection.
  XSetIOErrorHandler(OnDisplayLost);
}

}  // namespace platform::detail

namespace platform {

void EndOnDisplayLoss() { detail::InstallDisplayLossHandler(); }

}  // namespace platform
