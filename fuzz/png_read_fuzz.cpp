// PNG input as kivtool create reads it: any bytes, the frame size bound on,
// then every picture read is mapped to the screen palette.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "convert/colour_map.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kiv::ColourMapper mapper(kiv::ComputeScreenPalette());
  kiv::Picture picture;
  std::string error;
  if (kiv::ReadPngFromMemory(std::span<const std::uint8_t>(data, size), {}, &picture, &error) ==
      kiv::ReadStatus::kPicture) {
    std::vector<std::uint8_t> indices;
    mapper.Map(picture, size % 2 == 0 ? kiv::Dither::kNone : kiv::Dither::kDiffusion, &indices);
  }
  return 0;
}
