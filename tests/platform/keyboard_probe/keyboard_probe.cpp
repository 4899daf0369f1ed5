// A small program for the end-to-end tests of the platform layer, run under
// Xvfb. Modes:
//   keys [CONSUME-SCAN]  an SDL window and the program's KeyState hook;
//                        prints every keystroke it retrieves with the
//                        flag it left, and whether a peek changed any flag.
//                        A flag given as CONSUME-SCAN (hex) is cleared after
//                        each print, as a reader that acts on a press does.
//   enum                 lists EnumWindows/GetWindowTextA, own windows marked.
//   serve TITLE          an SDL window captioned TITLE and a top-level window
//                        of class "ProbeInstance" titled TITLE; runs its loop
//                        until closed.
//   find TITLE           FindWindowA("ProbeInstance", TITLE): prints what
//                        IsIconic says, restores it if iconic, brings it to
//                        the foreground; exit status 1 when not found.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/linux_platform.h"
#include "platform/win32.h"
#include "shell/key_state.h"

namespace {

// The program's own key state: its hook keeps the flags by 7-bit scan code.
std::uint8_t* const flags = kiv::KeyState::flags;
constexpr std::size_t kFlagCount = sizeof(kiv::KeyState::flags);

LRESULT ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateProbeWindow(const char* className, const char* title) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = ProbeProc;
  windowClass.lpszClassName = className;
  if (RegisterClassExA(&windowClass) == 0) return nullptr;
  return CreateWindowExA(0, className, title, WS_POPUP, 0, 0, 320, 240, nullptr, nullptr, nullptr, nullptr);
}

bool OpenSdlWindow(const char* caption) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    return false;
  }
  if (SDL_SetVideoMode(320, 240, 8, SDL_SWSURFACE) == nullptr) {
    std::fprintf(stderr, "SDL_SetVideoMode: %s\n", SDL_GetError());
    return false;
  }
  SDL_WM_SetCaption(caption, nullptr);
  SDL_Flip(SDL_GetVideoSurface());
  return true;
}

bool IsKeystroke(UINT message) { return message == WM_KEYDOWN || message == WM_KEYUP; }

// The main loop of the program: peek, then retrieve and dispatch; SDL's own
// events are drained when nothing is waiting.
int RunLoop(int consumeScan) {
  for (;;) {
    MSG msg{};
    std::uint8_t before[kFlagCount];
    std::memcpy(before, flags, kFlagCount);
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (IsKeystroke(msg.message)) {
        const int changed = std::memcmp(before, flags, kFlagCount) != 0 ? 1 : 0;
        std::printf("peek scan=0x%02x changed=%d\n", static_cast<int>((msg.lParam >> 16) & 0x7F), changed);
      }
      if (GetMessageA(&msg, nullptr, 0, 0) == 0) return static_cast<int>(msg.wParam);
      if (IsKeystroke(msg.message)) {
        const int scan = static_cast<int>((msg.lParam >> 16) & 0x7F);
        std::printf("key %s scan=0x%02x ext=%d prev=%d vk=0x%02x flag=%d\n", msg.message == WM_KEYDOWN ? "down" : "up",
                    scan, static_cast<int>((msg.lParam >> 24) & 1), static_cast<int>((msg.lParam >> 30) & 1),
                    static_cast<int>(msg.wParam), flags[scan]);
        if (scan == consumeScan) flags[scan] = 0;
        // A reader's tick after every keystroke: a release then clears the
        // flag at once, so each line shows that one keystroke's effect
        // however X batches a press with its release.
        kiv::KeyState::TickDone();
      }
      std::fflush(stdout);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      continue;
    }
    platform::Event event{};
    while (platform::PollEvent(&event)) {
      if (event.type == SDL_QUIT) return 0;
    }
    platform::Delay(2);
  }
}

int RunWindowed(const char* caption, const char* className, int consumeScan) {
  const HWND window = CreateProbeWindow(className, caption);
  if (window == nullptr || !OpenSdlWindow(caption)) return 2;
  SetFocus(window);
  SDL_EnableKeyRepeat(250, 30);
  platform::AttachSdlInput();
  platform::SetSignalWindow(window);
  if (kiv::KeyState::Install() == 0) return 2;
  std::printf("ready\n");
  std::fflush(stdout);
  const int status = RunLoop(consumeScan);
  kiv::KeyState::Remove();
  platform::SetSignalWindow(nullptr);
  platform::DetachSdlInput();
  SDL_Quit();
  return status;
}

BOOL PrintWindow(HWND window, LPARAM own) {
  char title[256] = {};
  GetWindowTextA(window, title, sizeof(title));
  std::printf("%s %s\n", window == reinterpret_cast<HWND>(own) ? "own" : "window", title);
  return TRUE;
}

int RunEnum() {
  const HWND own = CreateProbeWindow("ProbeEnum", "probe own window");
  if (own == nullptr) return 2;
  const BOOL done = EnumWindows(PrintWindow, reinterpret_cast<LPARAM>(own));
  std::fflush(stdout);
  return done ? 0 : 2;
}

int RunFind(const char* title) {
  const HWND window = FindWindowA("ProbeInstance", title);
  if (window == nullptr) {
    std::printf("not found\n");
    return 1;
  }
  const BOOL iconic = IsIconic(window);
  std::printf("iconic %d\n", iconic ? 1 : 0);
  if (iconic) ShowWindow(window, SW_RESTORE);
  std::printf("foreground %d\n", SetForegroundWindow(window) ? 1 : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetDesktop(&platform::LinuxDesktop());
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "keys") {
    const int consume = argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 16)) : -1;
    return RunWindowed("keyboard probe", "ProbeKeys", consume);
  }
  if (mode == "enum") return RunEnum();
  if (mode == "serve" && argc > 2) return RunWindowed(argv[2], "ProbeInstance", -1);
  if (mode == "find" && argc > 2) return RunFind(argv[2]);
  std::fprintf(stderr, "usage: keyboard_probe keys [SCAN] | enum | serve TITLE | find TITLE\n");
  return 2;
}
