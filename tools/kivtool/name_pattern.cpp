#include "name_pattern.h"

#include <cctype>

namespace kivtool {

std::string NamePattern::For(const std::string& number) const {
  std::string digits = number;
  if (digits.size() < width && !digits.empty() && std::isdigit(static_cast<unsigned char>(digits[0]))) {
    digits.insert(0, width - digits.size(), '0');
  }
  return prefix + digits + suffix;
}

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

}  // namespace kivtool
