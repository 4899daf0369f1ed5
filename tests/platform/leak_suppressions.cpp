// SDL 2 under sdl12-compat keeps a few blocks of its video subsystem after
// SDL_Quit; LeakSanitizer is told that those are not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libSDL2\n"; }
