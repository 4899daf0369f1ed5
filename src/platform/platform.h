// Services of the platform layer that have no Windows name, and seams for
// tests. The Linux backend adds its own in platform/linux/linux_platform.h.
#pragma once

#include "platform/win32.h"

namespace platform {

// For a window of another process found by FindWindowA: true when that
// process left a request unanswered (stopped, or stuck outside its message
// pump); then gives its process id and whether it has a top-level window on
// the X display (which the requests then went to directly).
bool WindowOwnerNotAnswering(HWND window, long* pid, bool* hasDisplayWindow);

// Test seams. Each setter returns the previous value; null restores the default.
using TimeSource = DWORD (*)();
TimeSource SetTimeSource(TimeSource source);
using VersionSource = BOOL (*)(OSVERSIONINFOA* info);
VersionSource SetVersionSource(VersionSource source);

// Forgets every window, class, queued message and hook (tests only). Windows
// created afterwards are published in a scope private to this process and
// the children it forks, so that tests never meet a running player.
void ResetForTests();

}  // namespace platform
