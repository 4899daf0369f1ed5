// Builds font-sheet files in memory for tests: an 800 x 600 picture in the
// sheet layout (header, colour map, per-line packets, extension area, line
// table, footer). Lines are packed with run packets where a run of at least
// three equal pixels starts and raw packets elsewhere.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace kiv::testing {

constexpr int kSheetWidth = 800;
constexpr int kSheetHeight = 600;

struct Sheet {
  std::vector<std::uint8_t> bytes;
  std::size_t tableOffset = 0;  // first of the 600 line offsets
  std::size_t Entry(int line) const {
    const std::uint8_t* p = bytes.data() + tableOffset + 4 * line;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::size_t>(p[3]) << 24);
  }
  void SetEntry(int line, std::uint32_t value) {
    std::uint8_t* p = bytes.data() + tableOffset + 4 * line;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
};

inline std::vector<std::uint8_t> PackLine(const std::uint8_t* row, int width) {
  std::vector<std::uint8_t> out;
  int i = 0;
  while (i < width) {
    int run = 1;
    while (i + run < width && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<std::uint8_t>(127 + run));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    int start = i;
    while (i < width && i - start < 128 &&
           !(i + 2 < width && row[i] == row[i + 1] && row[i] == row[i + 2])) {
      ++i;
    }
    out.push_back(static_cast<std::uint8_t>(i - start - 1));
    out.insert(out.end(), row + start, row + i);
  }
  return out;
}

// pixels: 800 x 600, top row first; rgb: 256 triples (red, green, blue).
inline Sheet BuildSheet(const std::vector<std::uint8_t>& pixels, const std::uint8_t* rgb) {
  Sheet sheet;
  std::vector<std::uint8_t>& b = sheet.bytes;
  const std::uint8_t header[18] = {0, 1, 9, 0, 0, 0, 1, 24, 0, 0, 0, 0, 0x20, 3, 0x58, 2, 8, 0};
  b.assign(header, header + 18);
  for (int i = 0; i < 256; ++i) {
    b.push_back(rgb[3 * i + 2]);
    b.push_back(rgb[3 * i + 1]);
    b.push_back(rgb[3 * i + 0]);
  }
  std::vector<std::uint32_t> table;
  for (int line = 0; line < kSheetHeight; ++line) {
    table.push_back(static_cast<std::uint32_t>(b.size()));
    std::vector<std::uint8_t> packed =
        PackLine(pixels.data() + (kSheetHeight - 1 - line) * kSheetWidth, kSheetWidth);
    b.insert(b.end(), packed.begin(), packed.end());
  }
  const std::uint32_t extension = static_cast<std::uint32_t>(b.size());
  b.resize(b.size() + 495, 0);
  sheet.tableOffset = b.size();
  for (std::uint32_t offset : table) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(offset >> (8 * i)));
  }
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(extension >> (8 * i)));
  for (int i = 0; i < 4; ++i) b.push_back(0);
  const char signature[] = "TRUEVISION-XFILE.";
  b.insert(b.end(), signature, signature + sizeof(signature));  // with its zero byte
  return sheet;
}

}  // namespace kiv::testing
