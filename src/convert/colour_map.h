// Colours to screen-palette indices. A colour in the palette gets its entry,
// any other the nearest one (squared distance; the lowest index wins a tie);
// the transparent index is never chosen for an opaque colour, and a pixel
// whose alpha is below half becomes it.
#pragma once

#include <cstdint>
#include <vector>

#include "convert/png_io.h"

namespace kiv {

enum class Dither { kNone, kOrdered, kDiffusion };

class ColourMapper {
 public:
  // palette: 256 entries, red green blue.
  explicit ColourMapper(const std::vector<std::uint8_t>& palette);

  // Maps picture into width x height indices (resized). A palette picture
  // is mapped per entry: an entry whose colour equals the screen entry of
  // the same number keeps that number, so pictures written in the screen
  // palette come back with their indices even where colours repeat.
  // Colours found exactly stay exact under dithering; only the others are
  // dithered. Returns how many opaque pixels had no exact colour.
  std::uint64_t Map(const Picture& picture, Dither dither, std::vector<std::uint8_t>* indices);

  // The entry for one opaque colour; *exact tells whether it is the colour itself.
  std::uint8_t Nearest(int red, int green, int blue, bool* exact);

 private:
  struct Cell {
    bool built = false;
    std::vector<std::uint8_t> candidates;  // every entry that can be nearest inside the cell
  };
  void BuildCell(int cell);
  std::uint64_t MapPalettePicture(const Picture& picture, std::vector<std::uint8_t>* indices);
  // Pixel i's entry when its colour is on the screen (*exact): the entry a
  // palette picture's index keeps, else the one with that colour.
  std::uint8_t OwnEntry(const Picture& picture, std::size_t i, bool* exact);
  std::uint64_t MapOrdered(const Picture& picture, std::vector<std::uint8_t>* indices);
  std::uint64_t MapDiffusion(const Picture& picture, std::vector<std::uint8_t>* indices);

  std::vector<std::uint8_t> palette_;
  std::vector<Cell> cells_;                // 32 x 32 x 32 cubes of 8 levels a side
  std::vector<std::int32_t> errors_[2];    // diffusion: this row and the next, 3 per pixel
  std::int16_t keep_[256] = {};            // palette pictures: the number an entry keeps, or -1
};

// Peak signal-to-noise ratio in dB of the indices shown through palette
// against the picture's colours (opaque pixels only; 99 when equal).
double PaletteIndicesPsnr(const Picture& picture, const std::vector<std::uint8_t>& indices,
                          const std::vector<std::uint8_t>& palette);

}  // namespace kiv
