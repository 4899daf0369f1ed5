#include "convert/colour_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "convert/screen_palette.h"

namespace kiv {
namespace {

constexpr int kCellBits = 3;  // a cell spans 8 levels per channel
constexpr int kCellsPerSide = 256 >> kCellBits;
constexpr std::uint8_t kOpaqueFrom = 128;  // alpha at or above half is opaque

// 8 x 8 Bayer thresholds 0 to 63.
constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
// Ordered dithering spreads a colour over about the gap between neighbouring
// ramp entries.
constexpr int kOrderedSpread = 24;

int Clamp(int value) { return std::clamp(value, 0, 255); }

long Square(long value) { return value * value; }

// The squared distance from a colour to the nearest and farthest point of a cell.
long NearDistance(const std::uint8_t* colour, const int* low, const int* high) {
  long sum = 0;
  for (int c = 0; c < 3; ++c) {
    if (colour[c] < low[c]) sum += Square(low[c] - colour[c]);
    if (colour[c] > high[c]) sum += Square(colour[c] - high[c]);
  }
  return sum;
}

long FarDistance(const std::uint8_t* colour, const int* low, const int* high) {
  long sum = 0;
  for (int c = 0; c < 3; ++c) sum += Square(std::max(colour[c] - low[c], high[c] - colour[c]));
  return sum;
}

}  // namespace

ColourMapper::ColourMapper(const std::vector<std::uint8_t>& palette)
    : palette_(palette), cells_(kCellsPerSide * kCellsPerSide * kCellsPerSide) {}

void ColourMapper::BuildCell(int cell) {
  const int low[3] = {(cell >> 10 & 31) << kCellBits, (cell >> 5 & 31) << kCellBits, (cell & 31) << kCellBits};
  const int high[3] = {low[0] + 7, low[1] + 7, low[2] + 7};
  long bound = std::numeric_limits<long>::max();
  for (int entry = 0; entry < 256; ++entry) {
    if (entry == TransparentIndex) continue;
    bound = std::min(bound, FarDistance(&palette_[3 * entry], low, high));
  }
  Cell& target = cells_[static_cast<std::size_t>(cell)];
  for (int entry = 0; entry < 256; ++entry) {
    if (entry == TransparentIndex) continue;
    if (NearDistance(&palette_[3 * entry], low, high) <= bound) {
      target.candidates.push_back(static_cast<std::uint8_t>(entry));
    }
  }
  target.built = true;
}

std::uint8_t ColourMapper::Nearest(int red, int green, int blue, bool* exact) {
  const int cell = (red >> kCellBits) << 10 | (green >> kCellBits) << 5 | (blue >> kCellBits);
  if (!cells_[static_cast<std::size_t>(cell)].built) BuildCell(cell);
  long best = std::numeric_limits<long>::max();
  std::uint8_t bestEntry = 0;
  // Candidates are in index order and only a smaller distance replaces the
  // best, so the lowest index wins a tie.
  for (const std::uint8_t entry : cells_[static_cast<std::size_t>(cell)].candidates) {
    const std::uint8_t* colour = &palette_[3 * entry];
    const long distance = Square(red - colour[0]) + Square(green - colour[1]) + Square(blue - colour[2]);
    if (distance < best) {
      best = distance;
      bestEntry = entry;
    }
  }
  *exact = best == 0;
  return bestEntry;
}

std::uint64_t ColourMapper::MapPalettePicture(const Picture& picture, std::vector<std::uint8_t>* indices) {
  std::uint8_t table[256];
  bool exact[256];
  for (int entry = 0; entry < 256; ++entry) {
    const std::uint8_t* colour = &picture.palette[4 * static_cast<std::size_t>(entry)];
    exact[entry] = true;
    if (colour[3] < kOpaqueFrom) {
      table[entry] = TransparentIndex;
    } else if (entry != TransparentIndex && std::equal(colour, colour + 3, &palette_[3 * entry])) {
      table[entry] = static_cast<std::uint8_t>(entry);
    } else {
      table[entry] = Nearest(colour[0], colour[1], colour[2], &exact[entry]);
    }
  }
  std::uint64_t inexact = 0;
  const std::size_t count = picture.indices.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t value = picture.indices[i];
    (*indices)[i] = table[value];
    inexact += exact[value] ? 0 : 1;
  }
  return inexact;
}

std::uint8_t ColourMapper::OwnEntry(const Picture& picture, std::size_t i, bool* exact) {
  const std::uint8_t* colour = &picture.rgba[4 * i];
  const std::uint8_t entry = Nearest(colour[0], colour[1], colour[2], exact);
  if (*exact && picture.indexed && keep_[picture.indices[i]] >= 0) {
    return static_cast<std::uint8_t>(keep_[picture.indices[i]]);
  }
  return entry;
}

std::uint64_t ColourMapper::MapOrdered(const Picture& picture, std::vector<std::uint8_t>* indices) {
  std::uint64_t inexact = 0;
  for (std::int32_t y = 0; y < picture.height; ++y) {
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) +
                            static_cast<std::size_t>(x);
      const std::uint8_t* colour = &picture.rgba[4 * i];
      if (colour[3] < kOpaqueFrom) {
        (*indices)[i] = TransparentIndex;
        continue;
      }
      bool exact = false;
      std::uint8_t entry = OwnEntry(picture, i, &exact);
      if (!exact) {
        ++inexact;
        // Thresholds centred on 0 and rounded toward it, so the mean colour stays put.
        const int offset = ((2 * kBayer[y & 7][x & 7] + 1 - 64) * kOrderedSpread) / 128;
        entry = Nearest(Clamp(colour[0] + offset), Clamp(colour[1] + offset), Clamp(colour[2] + offset), &exact);
      }
      (*indices)[i] = entry;
    }
  }
  return inexact;
}

// Floyd-Steinberg: each inexact pixel passes 7/16, 3/16, 5/16 and 1/16 of
// its error to the neighbours right, below left, below and below right.
// Transparent pixels neither take nor give error, and colours found exactly
// stay as they are, so flat areas of palette colours are left clean.
std::uint64_t ColourMapper::MapDiffusion(const Picture& picture, std::vector<std::uint8_t>* indices) {
  const std::size_t width = static_cast<std::size_t>(picture.width);
  for (auto& row : errors_) row.assign(3 * (width + 2), 0);
  std::uint64_t inexact = 0;
  auto opaque = [&](std::size_t i) { return picture.rgba[4 * i + 3] >= kOpaqueFrom; };
  for (std::int32_t y = 0; y < picture.height; ++y) {
    std::int32_t* here = errors_[0].data() + 3;  // index 3 * x, with one spare pixel either side
    std::int32_t* below = errors_[1].data() + 3;
    const bool lastRow = y + 1 == picture.height;
    for (std::size_t x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * width + x;
      const std::uint8_t* colour = &picture.rgba[4 * i];
      if (!opaque(i)) {
        (*indices)[i] = TransparentIndex;
        continue;
      }
      bool exact = false;
      std::uint8_t entry = OwnEntry(picture, i, &exact);
      if (!exact) {
        ++inexact;
        int wanted[3];
        for (int c = 0; c < 3; ++c) wanted[c] = Clamp(colour[c] + here[3 * x + c] / 16);
        entry = Nearest(wanted[0], wanted[1], wanted[2], &exact);
        const bool right = x + 1 < width && opaque(i + 1);
        const bool belowLeft = !lastRow && x > 0 && opaque(i + width - 1);
        const bool belowHere = !lastRow && opaque(i + width);
        const bool belowRight = !lastRow && x + 1 < width && opaque(i + width + 1);
        for (int c = 0; c < 3; ++c) {
          const std::int32_t error = wanted[c] - palette_[3 * entry + c];
          if (right) here[3 * (x + 1) + c] += 7 * error;
          if (belowLeft) below[3 * (x - 1) + c] += 3 * error;
          if (belowHere) below[3 * x + c] += 5 * error;
          if (belowRight) below[3 * (x + 1) + c] += error;
        }
      }
      (*indices)[i] = entry;
    }
    std::swap(errors_[0], errors_[1]);
    std::fill(errors_[1].begin(), errors_[1].end(), 0);
  }
  return inexact;
}

std::uint64_t ColourMapper::Map(const Picture& picture, Dither dither, std::vector<std::uint8_t>* indices) {
  indices->resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
  if (picture.indexed) {
    for (int entry = 0; entry < 256; ++entry) {
      const std::uint8_t* colour = &picture.palette[4 * static_cast<std::size_t>(entry)];
      const bool same = colour[3] >= kOpaqueFrom && entry != TransparentIndex &&
                        std::equal(colour, colour + 3, &palette_[3 * entry]);
      keep_[entry] = static_cast<std::int16_t>(same ? entry : -1);
    }
  }
  if (picture.indexed && dither == Dither::kNone) return MapPalettePicture(picture, indices);
  if (dither == Dither::kOrdered) return MapOrdered(picture, indices);
  if (dither == Dither::kDiffusion) return MapDiffusion(picture, indices);
  std::uint64_t inexact = 0;
  const std::size_t count = indices->size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* colour = &picture.rgba[4 * i];
    if (colour[3] < kOpaqueFrom) {
      (*indices)[i] = TransparentIndex;
      continue;
    }
    bool exact = false;
    (*indices)[i] = Nearest(colour[0], colour[1], colour[2], &exact);
    inexact += exact ? 0 : 1;
  }
  return inexact;
}

double PaletteIndicesPsnr(const Picture& picture, const std::vector<std::uint8_t>& indices,
                          const std::vector<std::uint8_t>& palette) {
  double sum = 0;
  std::uint64_t samples = 0;
  for (std::size_t i = 0; i < indices.size(); ++i) {
    if (picture.rgba[4 * i + 3] < kOpaqueFrom) continue;
    for (int c = 0; c < 3; ++c) {
      const double d = static_cast<double>(picture.rgba[4 * i + c]) - palette[3 * indices[i] + c];
      sum += d * d;
    }
    samples += 3;
  }
  if (samples == 0 || sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(samples)));
}

}  // namespace kiv
