// The program's icon for the window manager's title bar and task switcher.
#pragma once

namespace kiv {

// Decodes the built-in 48x48 icon and hands it to SDL. Call after SDL_Init and
// before the video mode is set (SDL applies the icon when it makes the
// window). Changes nothing that is drawn; a failure only leaves SDL's default
// icon, so it is not reported.
void SetWindowIcon();

}  // namespace kiv
