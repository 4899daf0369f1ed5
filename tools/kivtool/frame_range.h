// "--frames A-B": an inclusive range of frame numbers.
#pragma once

#include <cstdint>
#include <string>

namespace kivtool {

struct FrameRange {
  std::uint32_t from = 0;
  std::uint32_t to = 0;
};

// False for anything but two decimal frame numbers (0 to 9998) joined by a
// dash with A <= B; a single number N means N-N.
bool ParseFrameRange(const std::string& text, FrameRange* range);

}  // namespace kivtool
