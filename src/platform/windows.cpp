// Window classes and the process's own windows, and the window calls that may
// also reach windows of other processes or of the X display.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/desktop.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

using platform::detail::HandleKind;

struct WindowClass {
  std::string name;
  WNDCLASSEXA description;
  ATOM atom;
};

struct Window {
  std::string className;
  std::string title;
  WNDPROC procedure;
  HWND parent;
  DWORD style;
  DWORD exStyle;
  bool visible;
  bool iconic;
  bool destroying;
  bool published;
};

std::vector<WindowClass> classes;
std::map<std::uint64_t, std::unique_ptr<Window>> windows;  // by serial: creation order
std::uint64_t nextWindowSerial = 1;
HWND focusWindow = nullptr;
HWND foregroundWindow = nullptr;

// The 32-bit program's size of WNDCLASSEXA, which callers written for it pass.
constexpr UINT kWndClassExSize32 = 48;
constexpr ATOM kFirstClassAtom = 0xC000;

bool SameTextIgnoringCase(const std::string& a, const char* b) {
  return platform::detail::EqualsIgnoringCase(a, b);
}

// A class name may also be an atom in the low word of the pointer.
bool IsAtomName(LPCSTR name) { return reinterpret_cast<std::uintptr_t>(name) <= 0xFFFF; }

WindowClass* FindClass(LPCSTR name) {
  if (name == nullptr) return nullptr;
  for (WindowClass& entry : classes) {
    if (IsAtomName(name)) {
      if (entry.atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name))) return &entry;
    } else if (SameTextIgnoringCase(entry.name, name)) {
      return &entry;
    }
  }
  return nullptr;
}

Window* Lookup(HWND window) {
  if (platform::detail::KindOf(window) != HandleKind::kOwn) return nullptr;
  const auto it = windows.find(platform::detail::PayloadOf(window));
  return it == windows.end() ? nullptr : it->second.get();
}

}  // namespace

namespace platform::detail {

bool IsLiveOwnWindow(HWND window) { return Lookup(window) != nullptr; }

HWND KeystrokeTarget() {
  if (Lookup(focusWindow) != nullptr) return focusWindow;
  if (windows.empty()) return nullptr;
  return MakeHandle(HandleKind::kOwn, windows.begin()->first);
}

std::vector<HWND> OwnTopLevelWindows() {
  std::vector<HWND> result;
  for (const auto& [serial, window] : windows) {
    if (window->parent == nullptr) result.push_back(MakeHandle(HandleKind::kOwn, serial));
  }
  return result;
}

BOOL OwnIsIconic(HWND window) {
  const Window* record = Lookup(window);
  return record != nullptr && record->iconic ? TRUE : FALSE;
}

BOOL OwnShowWindow(HWND window, int showCommand) {
  Window* record = Lookup(window);
  if (record == nullptr) return FALSE;
  const BOOL wasVisible = record->visible ? TRUE : FALSE;
  switch (showCommand) {
    case SW_HIDE:
      record->visible = false;
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
      record->visible = true;
      record->iconic = true;
      break;
    case SW_SHOWNORMAL:
    case SW_MAXIMIZE:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
    case SW_SHOWNOACTIVATE:
      record->visible = true;
      record->iconic = false;
      break;
    default:  // SW_SHOW, SW_SHOWNA: shown in its present state
      record->visible = true;
      break;
  }
  return wasVisible;
}

BOOL OwnSetForegroundWindow(HWND window) {
  if (Lookup(window) == nullptr) return FALSE;
  foregroundWindow = window;
  return TRUE;
}

bool OwnWindowText(HWND window, std::string* className, std::string* title) {
  const Window* record = Lookup(window);
  if (record == nullptr) return false;
  if (className != nullptr) *className = record->className;
  if (title != nullptr) *title = record->title;
  return true;
}

void ResetWindows() {
  for (const auto& [serial, window] : windows) {
    if (window->published) CurrentDesktop().UnpublishWindow(MakeHandle(HandleKind::kOwn, serial));
  }
  windows.clear();
  classes.clear();
  focusWindow = nullptr;
  foregroundWindow = nullptr;
}

}  // namespace platform::detail

ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
  if (windowClass == nullptr) return 0;
  if (windowClass->cbSize != sizeof(WNDCLASSEXA) && windowClass->cbSize != kWndClassExSize32) return 0;
  const LPCSTR name = windowClass->lpszClassName;
  if (name == nullptr || IsAtomName(name) || name[0] == '\0') return 0;
  if (windowClass->lpfnWndProc == nullptr || FindClass(name) != nullptr) return 0;
  if (classes.size() >= static_cast<std::size_t>(0xFFFF - kFirstClassAtom)) return 0;
  const ATOM atom = static_cast<ATOM>(kFirstClassAtom + classes.size());
  WindowClass entry{name, *windowClass, atom};
  entry.description.lpszClassName = nullptr;  // the caller's text may not outlive the call
  entry.description.lpszMenuName = nullptr;
  classes.push_back(std::move(entry));
  return atom;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  const WindowClass* windowClass = FindClass(className);
  if (windowClass == nullptr) return nullptr;
  if (parent != nullptr && Lookup(parent) == nullptr) return nullptr;

  auto record = std::make_unique<Window>();
  record->className = windowClass->name;
  record->title = windowName != nullptr ? windowName : "";
  record->procedure = windowClass->description.lpfnWndProc;
  record->parent = parent;
  record->style = style;
  record->exStyle = exStyle;
  const std::uint64_t serial = nextWindowSerial++;
  const HWND handle = platform::detail::MakeHandle(HandleKind::kOwn, serial);
  windows.emplace(serial, std::move(record));

  CREATESTRUCTA create{};
  create.lpCreateParams = param;
  create.hInstance = instance;
  create.hMenu = menu;
  create.hwndParent = parent;
  create.cy = height;
  create.cx = width;
  create.y = y;
  create.x = x;
  create.style = static_cast<LONG>(style);
  create.lpszName = windowName;
  create.lpszClass = className;
  create.dwExStyle = exStyle;
  if (SendMessageA(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  Window* created = Lookup(handle);
  if (created == nullptr) return nullptr;  // destroyed by its own WM_CREATE
  created->visible = (style & WS_VISIBLE) != 0;
  // Top-level windows can be found by other processes (single instance).
  if (parent == nullptr) {
    created->published = platform::CurrentDesktop().PublishWindow(handle, created->className, created->title);
  }
  return handle;
}

BOOL DestroyWindow(HWND window) {
  Window* record = Lookup(window);
  if (record == nullptr || record->destroying) return FALSE;
  record->destroying = true;
  // Children go first, as their parent's destruction takes them along.
  std::vector<HWND> children;
  for (const auto& [serial, child] : windows) {
    if (child->parent == window) children.push_back(platform::detail::MakeHandle(HandleKind::kOwn, serial));
  }
  for (HWND child : children) DestroyWindow(child);
  if (record->published) platform::CurrentDesktop().UnpublishWindow(window);
  record->published = false;
  SendMessageA(window, WM_DESTROY, 0, 0);
  windows.erase(platform::detail::PayloadOf(window));
  if (focusWindow == window) focusWindow = nullptr;
  if (foregroundWindow == window) foregroundWindow = nullptr;
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const Window* record = Lookup(window);
  if (record == nullptr) return 0;
  // Copied first: the procedure may destroy its own window.
  const WNDPROC procedure = record->procedure;
  return procedure(window, message, wParam, lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

BOOL ShowWindow(HWND window, int showCommand) {
  switch (platform::detail::KindOf(window)) {
    case HandleKind::kOwn:
      return platform::detail::OwnShowWindow(window, showCommand);
    case HandleKind::kRemote:
      return platform::CurrentDesktop().RemoteRequest(
          window, showCommand == SW_RESTORE ? platform::detail::kRequestRestore : platform::detail::kRequestShow,
          showCommand);
    default:
      return FALSE;
  }
}

HWND SetFocus(HWND window) {
  if (window != nullptr && Lookup(window) == nullptr) return nullptr;
  const HWND previous = Lookup(focusWindow) != nullptr ? focusWindow : nullptr;
  focusWindow = window;
  return previous;
}

BOOL IsIconic(HWND window) {
  switch (platform::detail::KindOf(window)) {
    case HandleKind::kOwn:
      return platform::detail::OwnIsIconic(window);
    case HandleKind::kRemote:
      return platform::CurrentDesktop().RemoteRequest(window, platform::detail::kRequestIconic, 0);
    case HandleKind::kX11:
      return platform::CurrentDesktop().DisplayWindowIconic(static_cast<unsigned long>(platform::detail::PayloadOf(window)))
                 ? TRUE
                 : FALSE;
    default:
      return FALSE;
  }
}

BOOL SetForegroundWindow(HWND window) {
  switch (platform::detail::KindOf(window)) {
    case HandleKind::kOwn:
      return platform::detail::OwnSetForegroundWindow(window);
    case HandleKind::kRemote:
      return platform::CurrentDesktop().RemoteRequest(window, platform::detail::kRequestForeground, 0);
    default:
      return FALSE;
  }
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  for (const auto& [serial, window] : windows) {
    if (window->parent != nullptr || window->destroying) continue;
    if (className != nullptr && !IsAtomName(className) && !SameTextIgnoringCase(window->className, className)) continue;
    if (className != nullptr && IsAtomName(className)) {
      const WindowClass* windowClass = FindClass(className);
      if (windowClass == nullptr || windowClass->name != window->className) continue;
    }
    if (windowName != nullptr && !SameTextIgnoringCase(window->title, windowName)) continue;
    return platform::detail::MakeHandle(HandleKind::kOwn, serial);
  }
  // Another process's window can be found only by its full name.
  if (className == nullptr || IsAtomName(className) || windowName == nullptr) return nullptr;
  return platform::CurrentDesktop().FindRemoteWindow(className, windowName);
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM lParam) {
  if (callback == nullptr) return FALSE;
  // Handles are gathered first: the callback may create or destroy windows.
  std::vector<HWND> handles = platform::detail::OwnTopLevelWindows();
  platform::CurrentDesktop().BeginBatch();
  for (unsigned long xid : platform::CurrentDesktop().DisplayWindows()) {
    handles.push_back(platform::detail::MakeHandle(HandleKind::kX11, xid));
  }
  BOOL result = TRUE;
  for (HWND handle : handles) {
    if (platform::detail::KindOf(handle) == HandleKind::kOwn && Lookup(handle) == nullptr) continue;
    if (callback(handle, lParam) == FALSE) {
      result = FALSE;
      break;
    }
  }
  platform::CurrentDesktop().EndBatch();
  return result;
}

int GetWindowTextA(HWND window, LPSTR text, int maxCount) {
  if (text == nullptr || maxCount <= 0) return 0;
  std::string title;
  bool known = false;
  switch (platform::detail::KindOf(window)) {
    case HandleKind::kOwn:
      known = platform::detail::OwnWindowText(window, nullptr, &title);
      break;
    case HandleKind::kX11:
      known = platform::CurrentDesktop().DisplayWindowTitle(static_cast<unsigned long>(platform::detail::PayloadOf(window)), &title);
      break;
    case HandleKind::kRemote:
      known = platform::CurrentDesktop().RemoteText(window, &title);
      break;
    default:
      break;
  }
  if (!known) {
    text[0] = '\0';
    return 0;
  }
  std::size_t length = std::min(title.size(), static_cast<std::size_t>(maxCount) - 1);
  // Titles may be UTF-8: never end on half a character.
  if (length < title.size()) {
    while (length > 0 && (static_cast<unsigned char>(title[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(text, title.data(), length);
  text[length] = '\0';
  return static_cast<int>(length);
}

namespace platform {

bool WindowOwnerNotAnswering(HWND window, long* pid, bool* hasDisplayWindow) {
  return CurrentDesktop().RemoteUnanswered(window, pid, hasDisplayWindow);
}

}  // namespace platform
