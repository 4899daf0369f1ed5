// The Player's side of the screen: the screen palette and the composition of
// the decoded frame (over the background when the layer is on) into the
// locked 8-bit screen of CurrentDisplay().
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/screen_palette.h"

namespace kiv {

// Top-left corner of the frame area on the screen.
constexpr std::int32_t kFrameAreaX = 40;
constexpr std::int32_t kFrameAreaY = 12;

// Fills the whole screen with pixel value 0.
void ClearScreen();

// The pictures a screen is composed from: FrameWidth x FrameHeight indices
// each, rows of FrameWidth bytes. The capacities bound every read.
struct ComposeSource {
  const std::uint8_t* frameBuffer;
  std::size_t frameCapacity;
  const std::uint8_t* backgroundBuffer;
  std::size_t backgroundCapacity;
  std::int32_t backgroundLayer;  // nonzero: compose over the background
};

// Copies the width x height rectangle at (x, y) of the frame to the same
// place in the frame area. A rectangle outside the frame, or a frame that
// does not fit its buffers, draws nothing; the copy is clipped to the screen.
void ComposeScreen(const ComposeSource& source, std::int32_t x, std::int32_t y, std::int32_t width,
                   std::int32_t height);

// Row copiers over raw pixel memory; a skip is the number of bytes stepped
// over after each row (row pitch minus width).
void CopyRows(const std::uint8_t* source, std::uint8_t* destination, std::int32_t rows,
              std::int32_t width, std::int32_t sourceSkip, std::int32_t destinationSkip);
// As CopyRows, but source bytes equal to TransparentIndex leave the
// destination as it was.
void CopyRowsKeyed(const std::uint8_t* source, std::uint8_t* destination, std::int32_t rows,
                   std::int32_t width, std::int32_t sourceSkip, std::int32_t destinationSkip);

}  // namespace kiv
