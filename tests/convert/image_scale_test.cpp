#include "convert/image_scale.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(ImageScale, FitsTheLongerSideAndKeepsTheAspect) {
  auto fit = [](std::int32_t w, std::int32_t h, std::int32_t limit) {
    const Size s = FitWithin({w, h}, limit);
    return std::to_string(s.width) + "x" + std::to_string(s.height);
  };
  EXPECT_EQ(fit(720, 576, 256), "256x205");   // 576 * 256 / 720 = 204.8
  EXPECT_EQ(fit(50, 3000, 256), "4x256");     // 4.27
  EXPECT_EQ(fit(3000, 1, 128), "128x1");      // never below 1
  EXPECT_EQ(fit(100, 50, 256), "100x50");     // never enlarged
}

TEST(ImageScale, AveragesTheAreaEachPixelCovers) {
  // Grey values; every channel the same.
  auto grey = [](std::initializer_list<std::uint8_t> values) {
    std::vector<std::uint8_t> rgb;
    for (std::uint8_t v : values) rgb.insert(rgb.end(), 3, v);
    return rgb;
  };
  // Whole pixels: 2x2 blocks.
  const std::vector<std::uint8_t> square = grey({0, 100, 200, 40, 10, 21, 30, 41});
  EXPECT_EQ(ScaleByArea(square.data(), {4, 2}, {2, 1}), grey({33, 78}));  // 131 / 4 and 311 / 4, rounded
  // Three columns onto two: the middle one is shared half and half.
  const std::vector<std::uint8_t> row = grey({0, 90, 180});
  EXPECT_EQ(ScaleByArea(row.data(), {3, 1}, {2, 1}), grey({30, 150}));  // (0 + 45) / 1.5, (45 + 180) / 1.5
}

}  // namespace
}  // namespace kiv
