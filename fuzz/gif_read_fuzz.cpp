// Animated GIF input as kivtool create reads it: any bytes, the frame size
// bound on, every frame composed until the end or the first error.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "convert/gif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kiv::GifReader reader;
  std::string error;
  if (!reader.Open(std::span<const std::uint8_t>(data, size), {}, &error)) return 0;
  kiv::Picture picture;
  std::uint32_t delay = 0;
  while (reader.Next(&picture, &delay, &error) == kiv::ReadStatus::kPicture) {
  }
  return 0;
}
