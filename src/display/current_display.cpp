#include "display/display.h"

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

}  // namespace kiv
