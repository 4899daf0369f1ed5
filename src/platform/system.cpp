// Small system services: handles, the millisecond timer, the version, the
// thread id, message boxes, icons and cursors, and the reset for tests.
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/desktop.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

DWORD MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);  // wraps every 49.7 days, as callers expect
}

// Reads "major.minor.build" from the kernel release ("6.1.0-13-amd64").
BOOL VersionFromKernel(OSVERSIONINFOA* info) {
  utsname names{};
  if (uname(&names) != 0) return FALSE;
  unsigned long parts[3] = {0, 0, 0};
  const char* cursor = names.release;
  for (unsigned long& part : parts) {
    char* end = nullptr;
    part = std::strtoul(cursor, &end, 10);
    if (end == cursor) break;
    cursor = end;
    if (*cursor != '.') break;
    ++cursor;
  }
  info->dwMajorVersion = static_cast<DWORD>(parts[0]);
  info->dwMinorVersion = static_cast<DWORD>(parts[1]);
  info->dwBuildNumber = static_cast<DWORD>(parts[2]);
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  // "Linux 6.1.0-13-amd64", cut to the field.
  const std::string text = std::string(names.sysname) + " " + names.release;
  std::snprintf(info->szCSDVersion, sizeof(info->szCSDVersion), "%s", text.c_str());
  return TRUE;
}

platform::TimeSource timeSource = MonotonicMilliseconds;
platform::VersionSource versionSource = VersionFromKernel;
HCURSOR currentCursor = nullptr;

}  // namespace

namespace platform::detail {

HWND MakeHandle(HandleKind kind, std::uint64_t payload) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>((payload << 2) | static_cast<std::uint64_t>(kind)));
}

HandleKind KindOf(HWND window) {
  const auto value = reinterpret_cast<std::uintptr_t>(window);
  if (value == 0) return HandleKind::kInvalid;
  return static_cast<HandleKind>(value & 3u);
}

std::uint64_t PayloadOf(HWND window) { return reinterpret_cast<std::uintptr_t>(window) >> 2; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&lower](char x, char y) {
           return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
         });
}

}  // namespace platform::detail

namespace platform {

TimeSource SetTimeSource(TimeSource source) {
  const TimeSource previous = timeSource;
  timeSource = source != nullptr ? source : MonotonicMilliseconds;
  return previous;
}

VersionSource SetVersionSource(VersionSource source) {
  const VersionSource previous = versionSource;
  versionSource = source != nullptr ? source : VersionFromKernel;
  return previous;
}

void ResetForTests() {
  detail::ResetWindows();
  detail::ResetMessageQueue();
  detail::ResetHooks();
  CurrentDesktop().ResetForTests();
  currentCursor = nullptr;
}

}  // namespace platform

DWORD timeGetTime() { return timeSource(); }

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
  const DWORD size = info->dwOSVersionInfoSize;
  std::memset(info, 0, sizeof(*info));
  info->dwOSVersionInfoSize = size;
  return versionSource(info);
}

DWORD GetCurrentThreadId() {
#ifdef SYS_gettid
  return static_cast<DWORD>(syscall(SYS_gettid));
#else
  // A system without thread ids of its own (the browser) runs the program
  // on one thread: the process id names it.
  return static_cast<DWORD>(getpid());
#endif
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  // Nobody may have to answer a box: it is a line on standard error.
  (void)owner;
  (void)type;
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
  std::fflush(stderr);
  return IDOK;
}

HCURSOR SetCursor(HCURSOR cursor) {
  const HCURSOR previous = currentCursor;
  currentCursor = cursor;
  return previous;
}

// The program file carries no icon or cursor resources.
HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  (void)instance;
  (void)name;
  return nullptr;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  (void)instance;
  (void)name;
  return nullptr;
}
