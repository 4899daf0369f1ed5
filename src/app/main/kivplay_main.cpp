// kivplay: plays the KIV animation named by its arguments.
#include <string>

#include "app/linux/system_services.h"

int main(int argc, char** argv) {
  // The command-line text is everything after the program name, joined by
  // single blanks, as the shell hands it to a Windows program.
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) {
      commandLine += ' ';
    }
    commandLine += argv[i];
  }
  // Linux has no module handle; nothing is looked up through it.
  const int code = WinMain(nullptr, nullptr, commandLine.data(), SW_SHOWNORMAL);
  // -1 becomes exit status 255.
  return code & 0xFF;
}
