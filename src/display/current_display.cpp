#include "display/display.h"

#include <cstdio>

namespace kiv {
namespace {

Display* currentDisplay = nullptr;

// Until a display is put in place, drawing clients find no screen (Lock gives
// null) rather than a window that was never opened.
MemoryDisplay& FallbackDisplay() {
  static MemoryDisplay display;
  return display;
}

}  // namespace

Display& CurrentDisplay() {
  if (currentDisplay != nullptr) return *currentDisplay;
  return FallbackDisplay();
}

void SetCurrentDisplay(Display* display) { currentDisplay = display; }

void FormatCaption(char* buffer, std::size_t size, const char* path) {
  std::snprintf(buffer, size, "%s - KIV Player 3.1", path != nullptr ? path : "");
}

}  // namespace kiv
