// Output file names from a pattern with exactly one "%d" or "%0Nd": the
// number is put in here; the pattern is never handed to printf.
#pragma once

#include <string>

namespace kivtool {

struct NamePattern {
  std::string prefix;
  std::string suffix;
  std::size_t width = 0;  // zero-padded to this many digits

  // The name for a frame number, or for a word such as "background" (not padded).
  std::string For(const std::string& number) const;
  std::string For(unsigned long number) const { return For(std::to_string(number)); }
};

// False, with the reason in *why, for a pattern without exactly one %d or
// %0Nd (N of 1 to 3 digits) or with any other % sequence.
bool ParsePattern(const char* text, NamePattern* pattern, std::string* why);

}  // namespace kivtool
