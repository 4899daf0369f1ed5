// Looks for an open music player window, whose sound device would clash with
// ours.
#pragma once

#include "platform/win32.h"

namespace kiv {

// Prints "Winamp found!" for every top-level window whose title starts like
// "Winamp" or "winamp" (5 characters, case-sensitive); true when any did.
bool MusicPlayerProbe();

}  // namespace kiv
