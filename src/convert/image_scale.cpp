#include "convert/image_scale.h"

#include <algorithm>
#include <cmath>

namespace kiv {
namespace {

// One output position's share of the source line: which source pixels, and
// how much of each.
struct Span {
  std::int32_t start;
  std::vector<double> weights;
};

std::vector<Span> Spans(std::int32_t from, std::int32_t to) {
  std::vector<Span> spans(static_cast<std::size_t>(to));
  const double step = static_cast<double>(from) / to;
  for (std::int32_t i = 0; i < to; ++i) {
    const double begin = i * step, end = (i + 1) * step;
    Span& span = spans[static_cast<std::size_t>(i)];
    span.start = static_cast<std::int32_t>(std::floor(begin));
    for (std::int32_t s = span.start; s < from && s < end; ++s) {
      const double covered = std::min<double>(s + 1, end) - std::max<double>(s, begin);
      span.weights.push_back(covered / step);
    }
  }
  return spans;
}

}  // namespace

Size FitWithin(Size picture, std::int32_t limit) {
  if (picture.width <= limit && picture.height <= limit) return picture;
  const auto scaled = [limit](std::int64_t side, std::int64_t longer) {
    return static_cast<std::int32_t>(std::max<std::int64_t>(1, (side * limit + longer / 2) / longer));
  };
  if (picture.width >= picture.height) return {limit, scaled(picture.height, picture.width)};
  return {scaled(picture.width, picture.height), limit};
}

std::vector<std::uint8_t> ScaleByArea(const std::uint8_t* rgb, Size source, Size target) {
  const std::vector<Span> columns = Spans(source.width, target.width);
  const std::vector<Span> rows = Spans(source.height, target.height);
  // Columns first, into doubles; then rows, rounding once at the end.
  std::vector<double> narrow(static_cast<std::size_t>(source.height) * target.width * 3, 0.0);
  for (std::int32_t y = 0; y < source.height; ++y) {
    const std::uint8_t* line = rgb + static_cast<std::size_t>(y) * source.width * 3;
    for (std::int32_t x = 0; x < target.width; ++x) {
      const Span& span = columns[static_cast<std::size_t>(x)];
      double* out = &narrow[(static_cast<std::size_t>(y) * target.width + x) * 3];
      for (std::size_t k = 0; k < span.weights.size(); ++k) {
        const std::uint8_t* pixel = line + (static_cast<std::size_t>(span.start) + k) * 3;
        for (int c = 0; c < 3; ++c) out[c] += span.weights[k] * pixel[c];
      }
    }
  }
  std::vector<std::uint8_t> scaled(static_cast<std::size_t>(target.width) * target.height * 3);
  for (std::int32_t y = 0; y < target.height; ++y) {
    const Span& span = rows[static_cast<std::size_t>(y)];
    for (std::int32_t x = 0; x < target.width; ++x) {
      double sum[3] = {0, 0, 0};
      for (std::size_t k = 0; k < span.weights.size(); ++k) {
        const double* pixel = &narrow[((static_cast<std::size_t>(span.start) + k) * target.width + x) * 3];
        for (int c = 0; c < 3; ++c) sum[c] += span.weights[k] * pixel[c];
      }
      std::uint8_t* out = &scaled[(static_cast<std::size_t>(y) * target.width + x) * 3];
      for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>(std::clamp(std::lround(sum[c]), 0L, 255L));
    }
  }
  return scaled;
}

}  // namespace kiv
