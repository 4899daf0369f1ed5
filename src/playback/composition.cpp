#include "playback/composition.h"

#include <algorithm>
#include <cstring>

#include "anim/animation_file.h"
#include "display/display.h"

namespace kiv {

void ClearScreen() {
  Display& display = CurrentDisplay();
  std::uint8_t* pixels = display.Lock();
  if (pixels == nullptr) {
    return;
  }
  const std::int32_t pitch = display.Pitch();
  const std::int32_t height = display.Height();
  if (pitch > 0 && height > 0) {
    std::memset(pixels, 0, static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height));
  }
  display.Unlock();
}

void ComposeScreen(const ComposeSource& source, std::int32_t x, std::int32_t y, std::int32_t width,
                   std::int32_t height) {
  // The frame must fit every buffer it is read from, and the rectangle must
  // lie inside the frame; anything else draws nothing.
  if (FrameWidth < 1 || FrameHeight < 1 || source.frameBuffer == nullptr) {
    return;
  }
  const std::size_t frameBytes =
      static_cast<std::size_t>(FrameWidth) * static_cast<std::size_t>(FrameHeight);
  if (frameBytes > source.frameCapacity) {
    return;
  }
  const bool layer = source.backgroundLayer != 0;
  if (layer && (source.backgroundBuffer == nullptr || frameBytes > source.backgroundCapacity)) {
    return;
  }
  if (x < 0 || y < 0 || width < 1 || height < 1 || width > FrameWidth - x ||
      height > FrameHeight - y) {
    return;
  }

  Display& display = CurrentDisplay();
  std::uint8_t* pixels = display.Lock();
  if (pixels == nullptr) {
    return;
  }
  const std::int32_t pitch = display.Pitch();
  const std::int32_t screenWidth = std::min(display.Width(), pitch);
  const std::int32_t screenHeight = display.Height();

  // Clip the destination rectangle to the screen.
  const std::int32_t left = kFrameAreaX + x;
  const std::int32_t top = kFrameAreaY + y;
  const std::int32_t columns = std::min(width, screenWidth - left);
  const std::int32_t rows = std::min(height, screenHeight - top);
  if (columns < 1 || rows < 1) {
    display.Unlock();
    return;
  }

  std::uint8_t* destination =
      pixels + static_cast<std::size_t>(pitch) * static_cast<std::size_t>(top) + left;
  const std::size_t sourceOffset =
      static_cast<std::size_t>(y) * static_cast<std::size_t>(FrameWidth) + x;
  const std::int32_t sourceSkip = FrameWidth - columns;
  const std::int32_t destinationSkip = pitch - columns;
  if (layer) {
    CopyRows(source.backgroundBuffer + sourceOffset, destination, rows, columns, sourceSkip,
             destinationSkip);
    CopyRowsKeyed(source.frameBuffer + sourceOffset, destination, rows, columns, sourceSkip,
                  destinationSkip);
  } else {
    CopyRows(source.frameBuffer + sourceOffset, destination, rows, columns, sourceSkip,
             destinationSkip);
  }
  display.Unlock();
}

void CopyRows(const std::uint8_t* source, std::uint8_t* destination, std::int32_t rows,
              std::int32_t width, std::int32_t sourceSkip, std::int32_t destinationSkip) {
  for (std::int32_t row = 0; row < rows; ++row) {
    // One byte, then a 2-byte unit, then the bulk of the row in 4-byte units.
    if (width & 1) {
      *destination++ = *source++;
    }
    if (width & 2) {
      std::memcpy(destination, source, 2);
      destination += 2;
      source += 2;
    }
    for (std::int32_t unit = width / 4; unit > 0; --unit) {
      std::memcpy(destination, source, 4);
      destination += 4;
      source += 4;
    }
    // The last row's skip is not stepped over: it may lie past the buffers.
    if (row + 1 < rows) {
      source += sourceSkip;
      destination += destinationSkip;
    }
  }
}

void CopyRowsKeyed(const std::uint8_t* source, std::uint8_t* destination, std::int32_t rows,
                   std::int32_t width, std::int32_t sourceSkip, std::int32_t destinationSkip) {
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t column = 0; column < width; ++column) {
      const std::uint8_t value = source[column];
      if (value != TransparentIndex) {
        destination[column] = value;
      }
    }
    if (row + 1 < rows) {
      source += width + sourceSkip;
      destination += width + destinationSkip;
    }
  }
}

}  // namespace kiv
