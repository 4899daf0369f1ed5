// The thread's message queue: posted messages in order, the quit flag, and
// the keyboard hook reports made while messages are looked at or removed.
#include <deque>

#include "platform/desktop.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

struct QueuedMessage {
  std::uint64_t serial;
  MSG msg;
};

std::deque<QueuedMessage> queue;
std::uint64_t nextSerial = 1;
bool quitPending = false;
int quitCode = 0;

bool IsKeystroke(UINT message) {
  return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN ||
         message == WM_SYSKEYUP;
}

// A null window takes every message of the thread; (HWND)-1 only messages
// posted without a window; any other handle only that window's messages.
bool MatchesWindow(const MSG& msg, HWND window) {
  if (window == nullptr) return true;
  if (window == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1))) return msg.hwnd == nullptr;
  return msg.hwnd == window;
}

bool MatchesRange(UINT message, UINT filterMin, UINT filterMax) {
  if (filterMin == 0 && filterMax == 0) return true;
  return message >= filterMin && message <= filterMax;
}

void EraseSerial(std::uint64_t serial) {
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (it->serial == serial) {
      queue.erase(it);
      return;
    }
  }
}

// Looks for the first matching message. Keystrokes are shown to the keyboard
// hook first (HC_NOREMOVE when only looked at, HC_ACTION when removed); a hook
// that returns nonzero swallows the keystroke and the search goes on.
bool Retrieve(MSG* out, HWND window, UINT filterMin, UINT filterMax, bool remove) {
  platform::CurrentDesktop().ServiceInputs();
  for (;;) {
    const QueuedMessage* found = nullptr;
    for (const QueuedMessage& entry : queue) {
      if (MatchesWindow(entry.msg, window) && MatchesRange(entry.msg.message, filterMin, filterMax)) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr) break;
    const QueuedMessage copy = *found;
    if (IsKeystroke(copy.msg.message)) {
      // The hook may post, peek or destroy windows; the queue is looked up
      // again by serial afterwards.
      const LRESULT swallowed = platform::detail::CallKeyboardHooks(
          remove ? HC_ACTION : HC_NOREMOVE, copy.msg.wParam, copy.msg.lParam);
      if (swallowed != 0) {
        EraseSerial(copy.serial);
        continue;
      }
    }
    if (remove) EraseSerial(copy.serial);
    *out = copy.msg;
    return true;
  }
  // WM_QUIT comes only once nothing else is waiting, whatever the filter.
  if (quitPending) {
    *out = MSG{};
    out->message = WM_QUIT;
    out->wParam = static_cast<WPARAM>(static_cast<std::intptr_t>(quitCode));
    out->time = timeGetTime();
    if (remove) quitPending = false;
    return true;
  }
  return false;
}

bool UsableFilterWindow(HWND window) {
  return window == nullptr || window == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1)) ||
         platform::detail::IsLiveOwnWindow(window);
}

}  // namespace

namespace platform::detail {

void ResetMessageQueue() {
  queue.clear();
  quitPending = false;
  quitCode = 0;
}

bool MessagesWaiting() { return !queue.empty() || quitPending; }

}  // namespace platform::detail

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMsg) {
  if (msg == nullptr || !UsableFilterWindow(window)) return FALSE;
  return Retrieve(msg, window, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax) {
  if (msg == nullptr || !UsableFilterWindow(window)) return -1;
  constexpr int kSdlSliceMs = 5;
  while (!Retrieve(msg, window, filterMin, filterMax, true)) {
    // The window waited for may be destroyed by a request or a signal.
    if (!UsableFilterWindow(window)) return -1;
    platform::CurrentDesktop().WaitForInputs(kSdlSliceMs);
  }
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL TranslateMessage(const MSG* msg) {
  // No character messages are made (nothing reads them); keystrokes count as
  // translated, as the caller expects.
  return msg != nullptr && IsKeystroke(msg->message) ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  if (!platform::detail::IsLiveOwnWindow(msg->hwnd)) return 0;
  return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window != nullptr && !platform::detail::IsLiveOwnWindow(window)) return FALSE;
  QueuedMessage entry{};
  entry.serial = nextSerial++;
  entry.msg.hwnd = window;
  entry.msg.message = message;
  entry.msg.wParam = wParam;
  entry.msg.lParam = lParam;
  entry.msg.time = timeGetTime();
  queue.push_back(entry);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  quitPending = true;
  quitCode = exitCode;
}
