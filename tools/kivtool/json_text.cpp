#include "json_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kivtool {
namespace {

// Formats with the fewest significant digits (up to maxDigits) that parse
// back to the same value, then writes them without an exponent when the
// number has a sensible size.
template <typename T>
std::string Shortest(T value, int maxDigits, T (*parse)(const char*, char**)) {
  if (value == 0) return "0";
  if (!std::isfinite(value)) return "null";
  char text[64];
  int digits = 1;
  for (; digits < maxDigits; ++digits) {
    std::snprintf(text, sizeof text, "%.*e", digits - 1, static_cast<double>(value));
    if (parse(text, nullptr) == value) break;
  }
  std::snprintf(text, sizeof text, "%.*e", digits - 1, static_cast<double>(value));
  const int exponent = std::atoi(std::strchr(text, 'e') + 1);
  if (exponent < -6 || exponent > 15) return text;
  const int decimals = digits - 1 - exponent > 0 ? digits - 1 - exponent : 0;
  std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
  return text;
}

float ParseFloat(const char* text, char** end) { return std::strtof(text, end); }
double ParseDouble(const char* text, char** end) { return std::strtod(text, end); }

}  // namespace

std::string ShortestDecimal(float value) { return Shortest<float>(value, 9, ParseFloat); }
std::string ShortestDecimal(double value) { return Shortest<double>(value, 17, ParseDouble); }

std::string SanitisedUtf8(const std::string& bytes) {
  static const char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    unsigned long code = 0, minimum = 0;
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    }
    bool good = length != 0 && i + length <= bytes.size();
    for (std::size_t k = 1; good && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) good = false;
      code = code << 6 | (next & 0x3F);
    }
    good = good && code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (good) {
      out.append(bytes, i, length);
      i += length;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

std::string JsonString(const std::string& bytes) {
  const std::string text = SanitisedUtf8(bytes);
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

}  // namespace kivtool
