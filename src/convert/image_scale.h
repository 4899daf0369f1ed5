// Shrinking RGB pictures for thumbnails by exact area averaging: each output
// pixel is the mean of the source area it covers, partial pixels weighted by
// the part covered.
#pragma once

#include <cstdint>
#include <vector>

namespace kiv {

struct Size {
  std::int32_t width;
  std::int32_t height;
};

// The size that fits within limit x limit keeping the aspect ratio (the
// longer side becomes limit, the shorter is rounded, at least 1). A picture
// that already fits keeps its size: thumbnails are never enlarged.
Size FitWithin(Size picture, std::int32_t limit);

// Scales width x height RGB pixels (3 bytes each) to target by area
// averaging, rounding each channel to the nearest value.
std::vector<std::uint8_t> ScaleByArea(const std::uint8_t* rgb, Size source, Size target);

}  // namespace kiv
