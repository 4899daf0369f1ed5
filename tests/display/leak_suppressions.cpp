// The SDL 1.2 layer keeps the video surface that SDL_SetVideoMode made after
// SDL_Quit (measured with the dummy driver). The leak checker of sanitized
// builds reads this list; only allocations made inside the SDL libraries
// are exempt, leaks of our own code are still reported.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libSDL2-2.0.so\nleak:libSDL-1.2.so\n";
}
