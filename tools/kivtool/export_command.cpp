// kivtool export FILE -o PATTERN [--background]: one palette PNG per frame.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "loaded_animation.h"
#include "png_files.h"

namespace kivtool {
namespace {

// A file-name pattern with exactly one "%d" or "%0Nd"; it is filled in here
// and never handed to printf.
struct NamePattern {
  std::string prefix;
  std::string suffix;
  std::size_t width = 0;  // zero-padded to this many digits

  std::string For(const std::string& number) const {
    std::string digits = number;
    if (digits.size() < width && std::isdigit(static_cast<unsigned char>(digits[0]))) {
      digits.insert(0, width - digits.size(), '0');
    }
    return prefix + digits + suffix;
  }
};

bool ParsePattern(const char* text, NamePattern* pattern, std::string* why) {
  const std::string s = text;
  std::size_t conversions = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    std::size_t j = i + 1;
    std::size_t width = 0;
    if (j < s.size() && s[j] == '0') {
      ++j;
      const std::size_t digitsStart = j;
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])) && j - digitsStart < 3) {
        width = width * 10 + static_cast<std::size_t>(s[j] - '0');
        ++j;
      }
      if (j == digitsStart || width == 0) {
        *why = "PATTERN: only %d or %0Nd may follow a %";
        return false;
      }
    }
    if (j >= s.size() || s[j] != 'd') {
      *why = "PATTERN: only %d or %0Nd may follow a %";
      return false;
    }
    if (++conversions > 1) {
      *why = "PATTERN: holds more than one %d";
      return false;
    }
    pattern->prefix = s.substr(0, i);
    pattern->suffix = s.substr(j + 1);
    pattern->width = width;
    i = j;
  }
  if (conversions == 0) {
    *why = "PATTERN needs %d or %0Nd for the frame number";
    return false;
  }
  return true;
}

}  // namespace

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
  if (!animation.Load(path)) {
    if (!animation.opened()) {
      ReportIoError(path, animation.error().what);
      return kExitUsage;
    }
    ReportRefusal(path, animation.error());
    return kExitFinding;
  }
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
