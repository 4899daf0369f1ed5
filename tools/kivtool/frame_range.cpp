#include "frame_range.h"

#include "anim/animation_file.h"

namespace kivtool {
namespace {

bool ParseNumber(const std::string& text, std::uint32_t* value) {
  if (text.empty() || text.size() > 5) return false;
  std::uint32_t number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (number > kiv::kLastFrameLimit) return false;
  *value = number;
  return true;
}

}  // namespace

bool ParseFrameRange(const std::string& text, FrameRange* range) {
  FrameRange parsed;
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) {
    if (!ParseNumber(text, &parsed.from)) return false;
    parsed.to = parsed.from;
  } else if (!ParseNumber(text.substr(0, dash), &parsed.from) ||
             !ParseNumber(text.substr(dash + 1), &parsed.to) || parsed.from > parsed.to) {
    return false;
  }
  *range = parsed;
  return true;
}

}  // namespace kivtool
