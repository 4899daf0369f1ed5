// kivtool export FILE -o PATTERN [--background]: one palette PNG per frame.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "loaded_animation.h"
#include "name_pattern.h"
#include "png_files.h"

namespace kivtool {

int RunExport(int argc, char** argv) {
  const char* path = nullptr;
  const char* patternText = nullptr;
  bool background = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0) {
      if (i + 1 >= argc) return UsageError("export: -o needs a PATTERN");
      patternText = argv[++i];
    } else if (std::strcmp(argv[i], "--background") == 0) {
      background = true;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return UsageError("export: unknown option");
    } else if (path != nullptr) {
      return UsageError("export: one FILE only");
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) return UsageError("export: no FILE given");
  if (patternText == nullptr) return UsageError("export: -o PATTERN is required");
  NamePattern pattern;
  std::string why;
  if (!ParsePattern(patternText, &pattern, &why)) return UsageError(("export: " + why).c_str());

  LoadedAnimation animation;
  if (const int status = LoadOrReport(animation, path); status >= 0) return status;
  const std::vector<std::uint8_t> palette = ScreenPalette();
  const kiv::AnimationHeader& h = animation.header();
  const std::size_t size = animation.pictureSize();
  std::vector<std::uint8_t> picture(size);
  std::string error;
  for (std::uint32_t f = animation.first(); f <= animation.last(); ++f) {
    // Each picture starts from 0, so a chunk shorter than its frame leaves
    // 0, not the previous frame, in the rest.
    std::fill(picture.begin(), picture.end(), 0);
    animation.frame(f)->Decode(picture.data(), size);
    const std::string name = pattern.For(std::to_string(f));
    if (!WritePalettePng(name.c_str(), picture.data(), h.width, h.height, palette, &error)) {
      ReportIoError(name.c_str(), error);
      return kExitUsage;
    }
  }
  if (background) {
    const std::string name = pattern.For("background");
    if (!WritePalettePng(name.c_str(), animation.backgroundPicture(), h.width, h.height, palette, &error)) {
      ReportIoError(name.c_str(), error);
      return kExitUsage;
    }
  }
  return kExitOk;
}

}  // namespace kivtool
