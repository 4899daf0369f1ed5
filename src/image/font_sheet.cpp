// Decoding of the built-in font sheet: a colour-mapped, run-length encoded
// TGA whose scan-line table sits right before the 26-byte footer.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "convert/screen_palette.h"
#include "image/image.h"
#include "resources/byte_reader.h"

namespace kiv {

namespace {

constexpr std::size_t kSheetWidth = 800;
constexpr std::size_t kSheetHeight = 600;
constexpr std::size_t kColourMapOffset = 18;
constexpr std::size_t kColourMapSize = 256 * 3;
constexpr std::size_t kFooterSize = 26;
constexpr std::size_t kTableSize = 4 * kSheetHeight;
constexpr std::size_t kScratchSize = 2 * kSheetWidth;  // longest scan line accepted

// Decodes one scan line's packets into exactly kSheetWidth pixels; false when
// a packet is cut short or the line comes out longer or shorter.
bool DecodeLine(const std::uint8_t* packets, std::size_t length, std::uint8_t* row) {
  std::size_t in = 0;
  std::size_t out = 0;
  while (in < length) {
    const std::uint8_t b = packets[in++];
    if (b >= 128) {
      const std::size_t count = b - 127u;
      if (in >= length || count > kSheetWidth - out) {
        return false;
      }
      std::memset(row + out, packets[in++], count);
      out += count;
    } else {
      const std::size_t count = b + 1u;
      if (count > length - in || count > kSheetWidth - out) {
        return false;
      }
      std::memcpy(row + out, packets + in, count);
      in += count;
      out += count;
    }
  }
  return out == kSheetWidth;
}

}  // namespace

std::int32_t Image::LoadSheetFromMemory(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) {
    return 0;
  }
  // The sheet is fixed data, but it is still checked against its own table
  // before anything is read: a bad table or packet is a refused sheet.
  const std::size_t imageDataStart = kColourMapOffset + kColourMapSize;
  if (size < imageDataStart + kTableSize + kFooterSize) {
    return 0;
  }
  const std::size_t tableOffset = size - kFooterSize - kTableSize;
  ByteReader table(ByteSpan(data, size));
  table.Seek(tableOffset);
  // Entry i and i + 1 bound stored line i; the footer's first field, right
  // after the table, ends the last line.
  std::uint32_t bounds[kSheetHeight + 1];
  for (std::uint32_t& bound : bounds) table.ReadLe32(&bound);
  if (bounds[0] < imageDataStart || bounds[kSheetHeight] > tableOffset) {
    return 0;
  }

  std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[kSheetWidth * kSheetHeight]);
  std::vector<std::uint8_t> scratch(kScratchSize);
  if (!pixels) {
    return 0;
  }
  for (std::size_t line = 0; line < kSheetHeight; ++line) {
    if (bounds[line + 1] < bounds[line]) {
      return 0;
    }
    const std::size_t length = bounds[line + 1] - bounds[line];
    if (length > kScratchSize) {
      return 0;
    }
    std::memcpy(scratch.data(), data + bounds[line], length);
    // Stored lines run bottom row first.
    std::uint8_t* row = pixels.get() + (kSheetHeight - 1 - line) * kSheetWidth;
    if (!DecodeLine(scratch.data(), length, row)) {
      return 0;
    }
  }

  if (fileBuffer_ != nullptr || pixels_ != nullptr) {
    Free();
  }
  pixels_ = pixels.release();
  width_ = static_cast<std::int32_t>(kSheetWidth);
  height_ = static_cast<std::int32_t>(kSheetHeight);
  x_ = 0;
  y_ = 0;
  ReadSheetColours(data, size, palette_);  // the size was checked above
  return 1;
}

}  // namespace kiv
