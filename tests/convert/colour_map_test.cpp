#include "convert/colour_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "convert/screen_palette.h"

namespace kiv {
namespace {

Picture RgbaPicture(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& rgba) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.rgba = rgba;
  return picture;
}

// The nearest entry by a plain search over the whole palette.
int BruteNearest(const std::vector<std::uint8_t>& palette, int r, int g, int b) {
  long best = -1;
  int bestEntry = 0;
  for (int e = 0; e < 256; ++e) {
    if (e == TransparentIndex) continue;
    const long dr = r - palette[3 * e], dg = g - palette[3 * e + 1], db = b - palette[3 * e + 2];
    const long d = dr * dr + dg * dg + db * db;
    if (best < 0 || d < best) {
      best = d;
      bestEntry = e;
    }
  }
  return bestEntry;
}

TEST(ColourMapper, NearestAgreesWithAFullSearch) {
  const std::vector<std::uint8_t> palette = ComputeScreenPalette();
  ColourMapper mapper(palette);
  std::srand(7);
  for (int i = 0; i < 20000; ++i) {
    const int r = std::rand() % 256, g = std::rand() % 256, b = std::rand() % 256;
    bool exact = true;
    ASSERT_EQ(mapper.Nearest(r, g, b, &exact), BruteNearest(palette, r, g, b)) << r << "," << g << "," << b;
  }
  // Every entry's own colour is exact and found at the lowest entry with it.
  for (int e = 0; e < 256; ++e) {
    bool exact = false;
    const int found = mapper.Nearest(palette[3 * e], palette[3 * e + 1], palette[3 * e + 2], &exact);
    EXPECT_TRUE(exact) << e;
    EXPECT_LE(found, e == TransparentIndex ? 255 : e);
    EXPECT_NE(found, TransparentIndex);
  }
}

TEST(ColourMapper, AlphaBelowHalfIsTheTransparentIndex) {
  const std::vector<std::uint8_t> palette = ComputeScreenPalette();
  ColourMapper mapper(palette);
  // White opaque, white at alpha 127 and 128, a grey-ramp colour transparent.
  const Picture picture = RgbaPicture(4, 1, {255, 255, 255, 255, 255, 255, 255, 127,
                                             255, 255, 255, 128, 4, 4, 4, 0});
  std::vector<std::uint8_t> indices;
  for (Dither dither : {Dither::kNone, Dither::kOrdered, Dither::kDiffusion}) {
    EXPECT_EQ(mapper.Map(picture, dither, &indices), 0u);
    EXPECT_NE(indices[0], TransparentIndex);
    EXPECT_EQ(palette[3 * indices[0]], 255);
    EXPECT_EQ(indices[1], TransparentIndex);
    EXPECT_EQ(indices[2], indices[0]);
    EXPECT_EQ(indices[3], TransparentIndex);
  }
}

TEST(ColourMapper, PalettePicturesKeepNumbersWhereColoursRepeat) {
  const std::vector<std::uint8_t> palette = ComputeScreenPalette();
  ColourMapper mapper(palette);
  // Black is both entry 0 and entry 64: a picture in the screen palette
  // keeps 64; the same black at another position takes the first entry.
  Picture picture;
  picture.width = 4;
  picture.height = 1;
  picture.indexed = true;
  picture.indices = {64, 0, 5, 127};
  picture.palette.assign(1024, 0);
  for (int e = 0; e < 256; ++e) {
    for (int c = 0; c < 3; ++c) picture.palette[4 * e + c] = palette[3 * e + c];
    picture.palette[4 * e + 3] = 255;
  }
  picture.palette[4 * 5 + 0] = picture.palette[4 * 5 + 1] = picture.palette[4 * 5 + 2] = 0;  // black at 5
  picture.palette[4 * 127 + 3] = 0;
  picture.rgba.resize(16);
  for (std::size_t i = 0; i < 4; ++i) {
    for (int c = 0; c < 4; ++c) picture.rgba[4 * i + c] = picture.palette[4 * picture.indices[i] + c];
  }
  std::vector<std::uint8_t> indices;
  for (Dither dither : {Dither::kNone, Dither::kDiffusion}) {
    EXPECT_EQ(mapper.Map(picture, dither, &indices), 0u);
    EXPECT_EQ(indices, (std::vector<std::uint8_t>{64, 0, 0, 127}));
  }
  // An opaque entry 127 (white) is a colour like any other, not transparency.
  picture.palette[4 * 127 + 3] = picture.rgba[4 * 3 + 3] = 255;
  for (Dither dither : {Dither::kNone, Dither::kOrdered, Dither::kDiffusion}) {
    mapper.Map(picture, dither, &indices);
    EXPECT_NE(indices[3], TransparentIndex) << static_cast<int>(dither);
  }
}

TEST(ColourMapper, DitheringKeepsTheMeanOfAColourBetweenEntries) {
  const std::vector<std::uint8_t> palette = ComputeScreenPalette();
  ColourMapper mapper(palette);
  // A flat grey between two ramp entries, with a transparent hole that
  // must stay a hole, and an exact colour that must stay exact.
  const int w = 32, h = 32;
  std::vector<std::uint8_t> rgba;
  for (int i = 0; i < w * h; ++i) {
    const bool hole = i % w == 5;
    const bool exact = i % w == 20;
    const std::uint8_t level = exact ? 128 : 130;
    rgba.insert(rgba.end(), {level, level, level, static_cast<std::uint8_t>(hole ? 0 : 255)});
  }
  const Picture picture = RgbaPicture(w, h, rgba);
  std::vector<std::uint8_t> indices;
  EXPECT_EQ(mapper.Map(picture, Dither::kNone, &indices), static_cast<std::uint64_t>(w * h - 2 * h));
  const double plain = PaletteIndicesPsnr(picture, indices, palette);
  for (Dither dither : {Dither::kOrdered, Dither::kDiffusion}) {
    mapper.Map(picture, dither, &indices);
    double sum = 0;
    int count = 0;
    for (int i = 0; i < w * h; ++i) {
      if (i % w == 5) {
        EXPECT_EQ(indices[i], TransparentIndex);
      } else if (i % w == 20) {
        EXPECT_EQ(palette[3 * indices[i]], 128);
      } else {
        sum += palette[3 * indices[i]];
        ++count;
      }
    }
    EXPECT_NEAR(sum / count, 130.0, 0.6) << static_cast<int>(dither);
    EXPECT_LT(PaletteIndicesPsnr(picture, indices, palette), plain + 10);  // finite and sane
  }
}

// Black and white only: a grey of 127 or less is black (0), 128 or more white (1).
std::vector<std::uint8_t> BlackAndWhite() {
  std::vector<std::uint8_t> palette(768, 0);
  palette[3] = palette[4] = palette[5] = 255;
  return palette;
}

TEST(ColourMapper, OrderedDitherFollowsTheBayerMatrix) {
  // The 8 x 8 Bayer matrix built the textbook way, each step from the one
  // half its size: M2n(y, x) = 4 Mn(y mod n, x mod n) + M2(y div n, x div n).
  const int m2[2][2] = {{0, 2}, {3, 1}};
  int bayer[8][8] = {{0}};
  for (int n = 1; n < 8; n *= 2) {
    int next[8][8];
    for (int y = 0; y < 2 * n; ++y) {
      for (int x = 0; x < 2 * n; ++x) next[y][x] = 4 * bayer[y % n][x % n] + m2[y / n][x / n];
    }
    std::copy(&next[0][0], &next[0][0] + 64, &bayer[0][0]);
  }
  // A threshold t moves a colour by (2t - 63) x 24 / 128, rounded toward 0:
  // -11 to +11. Grey 125 turns white where the shift is 3 or more, that is
  // t >= 40; grey 131 where it is -3 or more, t >= 21 (t = 20 gives -4.3).
  ColourMapper mapper(BlackAndWhite());
  for (const auto& [grey, from] : {std::pair{125, 40}, std::pair{131, 21}}) {
    const auto level = static_cast<std::uint8_t>(grey);
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < 16 * 9; ++i) rgba.insert(rgba.end(), {level, level, level, 255});
    std::vector<std::uint8_t> indices;
    mapper.Map(RgbaPicture(16, 9, rgba), Dither::kOrdered, &indices);
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(indices[16 * y + x], bayer[y % 8][x % 8] >= from ? 1 : 0) << grey << " at " << x << "," << y;
      }
    }
  }
}

TEST(ColourMapper, DiffusionPassesSevenThreeFiveAndOneSixteenths) {
  // A source grey of 112 becomes black, an error of 112, which passes
  // 7 x 7 = 49 to the right, 3 x 7 = 21 below left, 5 x 7 = 35 below and
  // 7 below right. Each receiver, set apart by transparent pixels (-1),
  // turns white just when its share reaches 128, so the pair of cases for
  // a neighbour pins its share exactly. The last case: a row's errors are
  // gone two rows down.
  ColourMapper mapper(BlackAndWhite());
  struct Case {
    std::int32_t width;
    std::vector<int> greys;
    std::vector<std::uint8_t> expected;  // 0 black, 1 white
  };
  constexpr std::uint8_t kClear = TransparentIndex;
  const Case cases[] = {
      {2, {112, 79}, {0, 1}},
      {2, {112, 78}, {0, 0}},
      {2, {-1, 112, 107, -1}, {kClear, 0, 1, kClear}},
      {2, {-1, 112, 106, -1}, {kClear, 0, 0, kClear}},
      {1, {112, 93}, {0, 1}},
      {1, {112, 92}, {0, 0}},
      {2, {112, -1, -1, 121}, {0, kClear, kClear, 1}},
      {2, {112, -1, -1, 120}, {0, kClear, kClear, 0}},
      {2, {112, 79, -1, -1, -1, 127}, {0, 1, kClear, kClear, kClear, 0}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> rgba;
    for (int grey : c.greys) {
      const auto level = static_cast<std::uint8_t>(grey < 0 ? 0 : grey);
      rgba.insert(rgba.end(), {level, level, level, static_cast<std::uint8_t>(grey < 0 ? 0 : 255)});
    }
    const auto height = static_cast<std::int32_t>(c.greys.size()) / c.width;
    std::vector<std::uint8_t> indices;
    mapper.Map(RgbaPicture(c.width, height, rgba), Dither::kDiffusion, &indices);
    EXPECT_EQ(indices, c.expected) << ::testing::PrintToString(c.greys);
  }
}

}  // namespace
}  // namespace kiv
