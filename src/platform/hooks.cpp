// Thread keyboard hooks: a chain, newest first, each link passing on through
// CallNextHookEx if it wants to.
#include <algorithm>
#include <vector>

#include "platform/internal.h"

namespace {

struct Hook {
  std::uintptr_t id;
  HOOKPROC procedure;
};

std::vector<Hook> chain;  // newest first
std::uintptr_t nextHookId = 1;
// The link now running: CallNextHookEx continues after it whatever handle it
// is given (the handle is only a fallback outside a chain call).
std::uintptr_t runningId = 0;

// Handles are small tagged numbers so that a stale or foreign one is refused.
constexpr std::uintptr_t kHookTag = 0x4B000000;

HHOOK ToHandle(std::uintptr_t id) { return reinterpret_cast<HHOOK>(kHookTag | (id << 4)); }

// Index of the first link at or after `start`; chain.size() when none.
LRESULT CallFrom(std::size_t start, int code, WPARAM wParam, LPARAM lParam) {
  if (start >= chain.size()) return 0;
  const HOOKPROC procedure = chain[start].procedure;
  const std::uintptr_t saved = runningId;
  runningId = chain[start].id;
  const LRESULT result = procedure(code, wParam, lParam);
  runningId = saved;
  return result;
}

}  // namespace

namespace platform::detail {

LRESULT CallKeyboardHooks(int code, WPARAM wParam, LPARAM lParam) {
  return CallFrom(0, code, wParam, lParam);
}

void ResetHooks() {
  chain.clear();
  runningId = 0;
}

}  // namespace platform::detail

HHOOK SetWindowsHookExA(int hookId, HOOKPROC procedure, HINSTANCE module, DWORD threadId) {
  // Only thread keyboard hooks exist here: a system-wide hook (thread 0) or a
  // hook on another thread cannot be served by this process's queue.
  (void)module;
  if (hookId != WH_KEYBOARD || procedure == nullptr || threadId != GetCurrentThreadId()) {
    return nullptr;
  }
  const std::uintptr_t id = nextHookId++;
  chain.insert(chain.begin(), Hook{id, procedure});
  return ToHandle(id);
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  const auto it = std::find_if(chain.begin(), chain.end(),
                               [hook](const Hook& link) { return ToHandle(link.id) == hook; });
  if (it == chain.end()) return FALSE;
  chain.erase(it);
  return TRUE;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
  const auto it = std::find_if(chain.begin(), chain.end(), [hook](const Hook& link) {
    return runningId != 0 ? link.id == runningId : ToHandle(link.id) == hook;
  });
  // An unknown handle (a removed hook, or none) has no next link.
  if (it == chain.end()) return 0;
  return CallFrom(static_cast<std::size_t>(it - chain.begin()) + 1, code, wParam, lParam);
}
