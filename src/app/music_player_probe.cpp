#include "app/music_player_probe.h"

#include <cstdio>
#include <cstring>

namespace kiv {

namespace {

constexpr int kTitleBufferSize = 256;
constexpr std::size_t kComparedCharacters = 5;

BOOL ProbeWindow(HWND window, LPARAM foundFlag) {
  char title[kTitleBufferSize];
  std::memset(title, 0, sizeof(title));
  GetWindowTextA(window, title, kTitleBufferSize - 1);
  // Only the first five characters decide, so "Winamp 5.9" and "Winam" match.
  if (std::strncmp(title, "Winamp", kComparedCharacters) == 0 ||
      std::strncmp(title, "winamp", kComparedCharacters) == 0) {
    std::printf("Winamp found!\n");
    *reinterpret_cast<int*>(foundFlag) = 1;
  }
  // Visit every window: each match prints its own line.
  return TRUE;
}

}  // namespace

bool MusicPlayerProbe() {
  int found = 0;
  EnumWindows(&ProbeWindow, reinterpret_cast<LPARAM>(&found));
  return found != 0;
}

}  // namespace kiv
