#include "platform/desktop.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {

Desktop defaultDesktop;
Desktop* currentDesktop = &defaultDesktop;

}  // namespace

void Desktop::WaitForInputs(int sliceMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs > 0 ? sliceMs : 1));
}

bool Desktop::PublishWindow(HWND, const std::string&, const std::string&) { return false; }
void Desktop::UnpublishWindow(HWND) {}
HWND Desktop::FindRemoteWindow(const char*, const char*) { return nullptr; }
BOOL Desktop::RemoteRequest(HWND, char, int) { return FALSE; }
bool Desktop::RemoteText(HWND, std::string*) { return false; }
bool Desktop::RemoteUnanswered(HWND, long*, bool*) { return false; }
std::vector<unsigned long> Desktop::DisplayWindows() { return {}; }
bool Desktop::DisplayWindowTitle(unsigned long, std::string*) { return false; }
bool Desktop::DisplayWindowIconic(unsigned long) { return false; }

Desktop& CurrentDesktop() { return *currentDesktop; }

Desktop* SetDesktop(Desktop* desktop) {
  Desktop* previous = currentDesktop;
  currentDesktop = desktop != nullptr ? desktop : &defaultDesktop;
  return previous;
}

}  // namespace platform
