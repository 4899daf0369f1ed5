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
  if (width <= 0) return;
  for (std::int32_t row = 0; row < rows; ++row) {
    // One library copy per row: it runs on every tick, paused too, and is
    // several times faster than copying in 4-byte units.
    std::memcpy(destination, source, static_cast<std::size_t>(width));
    // The last row's skip is not stepped over: it may lie past the buffers.
    if (row + 1 < rows) {
      source += width + sourceSkip;
      destination += width + destinationSkip;
    }
  }
}

namespace {

// High bit set in exactly the bytes of `word` that equal TransparentIndex:
// those bytes of x are zero, and a zero byte is the only one whose low seven
// bits plus 0x7F, its own high bit and 0x7F all leave the high bit clear.
constexpr std::uint64_t kAllKeyed = 0x8080808080808080ull;

inline std::uint64_t KeyedBytes(std::uint64_t word) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr std::uint64_t kKeys = TransparentIndex * 0x0101010101010101ull;
  const std::uint64_t x = word ^ kKeys;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// `from` with its keyed bytes taken from what `destination` holds.
inline std::uint64_t Keyed(std::uint64_t from, std::uint64_t keyed, const std::uint8_t* destination) {
  if (keyed == 0) return from;
  std::uint64_t to;
  std::memcpy(&to, destination, 8);
  const std::uint64_t keep = (keyed >> 7) * 0xFF;  // 0xFF in every keyed byte
  return (from & ~keep) | (to & keep);
}

}  // namespace

void CopyRowsKeyed(const std::uint8_t* source, std::uint8_t* destination, std::int32_t rows,
                   std::int32_t width, std::int32_t sourceSkip, std::int32_t destinationSkip) {
  // The keyed copy runs over the whole frame on every tick, also while
  // paused: sixteen bytes at a time, stretches without a key as plain stores
  // and wholly transparent ones not at all, it costs a few times a plain
  // copy rather than twenty.
  for (std::int32_t row = 0; row < rows; ++row) {
    std::int32_t column = 0;
    for (; column + 16 <= width; column += 16) {
      std::uint64_t a, b;
      std::memcpy(&a, source + column, 8);
      std::memcpy(&b, source + column + 8, 8);
      const std::uint64_t keyedA = KeyedBytes(a), keyedB = KeyedBytes(b);
      // Wholly transparent (much of a typical frame): the background stays.
      if ((keyedA & keyedB) == kAllKeyed) continue;
      if ((keyedA | keyedB) != 0) {
        a = Keyed(a, keyedA, destination + column);
        b = Keyed(b, keyedB, destination + column + 8);
      }
      std::memcpy(destination + column, &a, 8);
      std::memcpy(destination + column + 8, &b, 8);
    }
    for (; column < width; ++column) {
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
