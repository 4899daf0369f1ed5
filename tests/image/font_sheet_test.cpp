#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "display/display.h"
#include "image/image.h"
#include "image/sheet_builder.h"
#include "image/text.h"

namespace kiv {
namespace {

using testing::BuildSheet;
using testing::kSheetHeight;
using testing::kSheetWidth;
using testing::Sheet;

// Colour-map entries 0 to 63 that the program relies on (red, green, blue).
const std::uint8_t kExpectedColours[64][3] = {
    {0, 0, 107},     {255, 0, 200},   {255, 255, 255}, {0, 128, 0},     {255, 0, 0},
    {255, 220, 0},   {0, 232, 0},     {160, 160, 170}, {190, 190, 210}, {210, 210, 230},
    {230, 230, 250}, {140, 140, 140}, {100, 100, 100}, {50, 50, 50},    {0, 0, 0},
    {168, 255, 72},  {0, 0, 128},     {174, 0, 0},     {255, 185, 205}, {255, 145, 171},
    {211, 113, 138}, {222, 173, 151}, {197, 142, 116}, {164, 117, 97},  {255, 224, 162},
    {237, 188, 94},  {193, 145, 62},  {148, 162, 214}, {62, 90, 217},   {34, 13, 138},
    {229, 209, 188}, {205, 187, 168}, {86, 57, 34},    {96, 68, 44},    {107, 79, 55},
    {118, 90, 66},   {129, 101, 77},  {140, 112, 88},  {151, 123, 99},  {162, 134, 110},
    {172, 146, 121}, {183, 157, 132}, {194, 168, 143}, {205, 179, 154}, {216, 190, 165},
    {227, 201, 176}, {238, 212, 187}, {249, 224, 198}, {148, 113, 151}, {154, 120, 154},
    {161, 127, 157}, {168, 135, 160}, {174, 142, 163}, {181, 149, 166}, {188, 157, 169},
    {195, 164, 172}, {201, 172, 176}, {208, 179, 179}, {215, 186, 182}, {222, 194, 185},
    {228, 201, 188}, {235, 209, 191}, {242, 216, 194}, {168, 168, 178},
};

// A picture whose rows all differ and mix runs with raw stretches.
std::vector<std::uint8_t> Pattern() {
  std::vector<std::uint8_t> pixels(kSheetWidth * kSheetHeight);
  for (int y = 0; y < kSheetHeight; ++y)
    for (int x = 0; x < kSheetWidth; ++x)
      pixels[y * kSheetWidth + x] =
          static_cast<std::uint8_t>((x / 37) % 3 == 0 ? y * 7 : x * 13 + y);
  return pixels;
}

std::vector<std::uint8_t> Ramp() {
  std::vector<std::uint8_t> rgb(768);
  for (int i = 0; i < 768; ++i) rgb[i] = static_cast<std::uint8_t>(i / 3 + 2 * (i % 3));
  return rgb;
}

TEST(FontSheet, DecodesLinesBottomUpAndTheColourMapAsRgb) {
  const std::vector<std::uint8_t> pixels = Pattern();
  const std::vector<std::uint8_t> rgb = Ramp();
  const Sheet sheet = BuildSheet(pixels, rgb.data());
  Image image(nullptr, nullptr);
  ASSERT_EQ(image.LoadSheetFromMemory(sheet.bytes.data(), sheet.bytes.size()), 1);
  EXPECT_EQ(image.Width(), 800);
  EXPECT_EQ(image.Height(), 600);
  EXPECT_EQ(std::vector<std::uint8_t>(image.Pixels(), image.Pixels() + pixels.size()), pixels);
  EXPECT_EQ(std::vector<std::uint8_t>(image.Palette(), image.Palette() + 768), rgb);
  // Row 599 is stored line 0: its packets come first after the colour map.
  EXPECT_EQ(sheet.Entry(0), 18u + 768u);
  EXPECT_EQ(image.Pixels()[599 * 800 + 40], pixels[599 * 800 + 40]);
  EXPECT_EQ(sheet.bytes[786 + 1], pixels[599 * 800]);  // first raw byte of line 0
  EXPECT_EQ(image.LoadSheetFromMemory(nullptr, 100), 0);
}

TEST(FontSheet, BuiltInSheetHasTheColoursAndGlyphStrip) {
  Image font(nullptr, nullptr);
  ASSERT_EQ(font.LoadSheetFromMemory(FontSheetData(), FontSheetSize()), 1);
  for (int i = 0; i < 64; ++i) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(font.Palette()[3 * i + c], kExpectedColours[i][c]) << i;
  }
  for (int g = 0; g < kGlyphCount; ++g) {
    int ink = 0;
    for (int y = kGlyphRow; y < kGlyphRow + kGlyphHeight; ++y) {
      for (int x = 0; x < kGlyphTable[g].width; ++x) {
        const std::uint8_t v = font.Pixels()[y * 800 + kGlyphColumnOrigin + kGlyphTable[g].x + x];
        ASSERT_TRUE(v == 1 || v == 2) << "glyph " << g + 32 << " at " << x << "," << y;
        ink += v == 2;
      }
    }
    if (g == 0) {
      EXPECT_EQ(ink, 0) << "the space shows nothing";
    } else {
      EXPECT_GT(ink, 0) << "glyph " << g + 32 << " is blank";
    }
  }
}

TEST(FontSheet, CorruptSheetsAreRefusedAndTheImageKept) {
  const std::vector<std::uint8_t> pixels = Pattern();
  const std::vector<std::uint8_t> rgb = Ramp();
  const Sheet good = BuildSheet(pixels, rgb.data());
  Image image(nullptr, nullptr);
  ASSERT_EQ(image.LoadSheetFromMemory(good.bytes.data(), good.bytes.size()), 1);
  const std::uint8_t* kept = image.Pixels();

  auto refused = [&](Sheet sheet, const char* what) {
    // An exact-size copy: any read past the end is caught by the sanitizer.
    std::vector<std::uint8_t> bytes = sheet.bytes;
    EXPECT_EQ(image.LoadSheetFromMemory(bytes.data(), bytes.size()), 0) << what;
    EXPECT_EQ(image.Pixels(), kept) << what;
    EXPECT_EQ(image.Width(), 800) << what;
  };
  auto changed = [&](auto edit) {
    Sheet sheet = good;
    edit(sheet);
    return sheet;
  };
  refused(changed([](Sheet& s) { s.bytes.resize(3000); s.tableOffset = 0; }), "too small");
  refused(changed([](Sheet& s) { s.bytes.pop_back(); }), "size off by one");
  refused(changed([](Sheet& s) { s.SetEntry(10, static_cast<std::uint32_t>(s.Entry(12))); }),
          "out of order");
  refused(changed([](Sheet& s) { s.SetEntry(0, 500); }), "inside the colour map");
  refused(changed([](Sheet& s) { s.SetEntry(600, static_cast<std::uint32_t>(s.bytes.size())); }),
          "last line past the data");
  refused(changed([](Sheet& s) { s.SetEntry(300, 0xFFFFFFF0u); }), "entry far outside");
  refused(changed([](Sheet& s) { s.SetEntry(5, static_cast<std::uint32_t>(s.Entry(5) + 1)); }),
          "line starts inside a packet");
  refused(changed([](Sheet& s) { s.SetEntry(7, static_cast<std::uint32_t>(s.Entry(7) - 1)); }),
          "line ends one byte early");
  // The last line ends in a run packet; the end of the data (the footer's
  // first field) is moved back over that packet's value byte.
  refused(changed([](Sheet& s) {
            std::size_t at = s.Entry(599);
            std::size_t lastPacket = at;
            while (at < s.Entry(600)) {
              lastPacket = at;
              at += s.bytes[at] >= 128 ? 2 : s.bytes[at] + 2u;
            }
            ASSERT_GE(s.bytes[lastPacket], 128) << "the pattern's last line must end in a run";
            s.SetEntry(600, static_cast<std::uint32_t>(s.Entry(600) - 1));
          }),
          "last run packet lost its value byte");
  // A line of 801 pixels: its last run packet grows by one.
  refused(changed([](Sheet& s) {
            std::size_t at = s.Entry(0);
            while (at < s.Entry(1)) {
              const std::uint8_t b = s.bytes[at];
              const std::size_t step = b >= 128 ? 2 : b + 2u;
              if (at + step == s.Entry(1) && b >= 128 && b < 255) ++s.bytes[at];
              at += step;
            }
          }),
          "line decodes long");
  refused(changed([](Sheet& s) {
            // First packet of line 2 swallows the whole scan line as raw bytes.
            s.bytes[s.Entry(2)] = 127;
          }),
          "raw packet overruns");
}

TEST(FontSheet, LongScanLinesAreRefused) {
  // 800 one-pixel raw packets make the longest valid line, 1,600 bytes; one
  // packet more goes past both the scratch buffer and the row.
  std::vector<std::uint8_t> rgb = Ramp();
  const Sheet sheet = BuildSheet(std::vector<std::uint8_t>(800 * 600, 4), rgb.data());
  auto withLine0 = [&](int packets) {
    std::vector<std::uint8_t> line;
    for (int i = 0; i < packets; ++i) {
      line.push_back(0);
      line.push_back(static_cast<std::uint8_t>(i));
    }
    std::vector<std::uint8_t> bytes(sheet.bytes.begin(), sheet.bytes.begin() + sheet.Entry(0));
    bytes.insert(bytes.end(), line.begin(), line.end());
    bytes.insert(bytes.end(), sheet.bytes.begin() + sheet.Entry(1), sheet.bytes.end());
    const std::uint32_t shift =
        static_cast<std::uint32_t>(line.size() - (sheet.Entry(1) - sheet.Entry(0)));
    Sheet moved{bytes, sheet.tableOffset + shift};
    for (int i = 1; i <= 600; ++i) moved.SetEntry(i, static_cast<std::uint32_t>(moved.Entry(i) + shift));
    return moved;
  };
  Image image(nullptr, nullptr);
  const Sheet longest = withLine0(800);
  ASSERT_EQ(longest.Entry(1) - longest.Entry(0), 1600u);
  ASSERT_EQ(image.LoadSheetFromMemory(longest.bytes.data(), longest.bytes.size()), 1);
  EXPECT_EQ(image.Pixels()[599 * 800 + 255], 255);
  EXPECT_EQ(image.Pixels()[599 * 800 + 256], 0);
  EXPECT_EQ(image.Pixels()[598 * 800 + 256], 4);
  const Sheet over = withLine0(801);
  EXPECT_EQ(image.LoadSheetFromMemory(over.bytes.data(), over.bytes.size()), 0);
}

TEST(FontSheet, DefaultImageDrawsOnTheCurrentDisplay) {
  MemoryDisplay display;
  display.SetVideoMode(16, 16, 8);
  SetCurrentDisplay(&display);
  {
    Image font;
    ASSERT_EQ(font.LoadSheetFromMemory(FontSheetData(), FontSheetSize()), 1);
    EXPECT_EQ(font.ApplyPalette(), 1);
    EXPECT_EQ(display.Palette()[3 * 2], 255);
    EXPECT_EQ(display.Palette()[3 * 1 + 2], 200);
  }
  SetCurrentDisplay(nullptr);
}

// Writes the decoded built-in sheet as raw RGB (800 x 600 x 3, top row first)
// to $KIV_FONTSHEET_RGB, for comparison with an independent TGA reader.
TEST(FontSheet, DumpsDecodedPixelsAsRgb) {
  Image font(nullptr, nullptr);
  ASSERT_EQ(font.LoadSheetFromMemory(FontSheetData(), FontSheetSize()), 1);
  std::vector<std::uint8_t> rgb;
  rgb.reserve(800 * 600 * 3);
  for (int i = 0; i < 800 * 600; ++i) {
    const std::uint8_t* entry = font.Palette() + 3 * font.Pixels()[i];
    rgb.insert(rgb.end(), entry, entry + 3);
  }
  ASSERT_EQ(rgb.size(), 1440000u);
  const char* path = std::getenv("KIV_FONTSHEET_RGB");
  if (path == nullptr) {
    GTEST_SKIP() << "KIV_FONTSHEET_RGB not set";
  }
  std::FILE* out = std::fopen(path, "wb");
  ASSERT_NE(out, nullptr) << path;
  EXPECT_EQ(std::fwrite(rgb.data(), 1, rgb.size(), out), rgb.size());
  std::fclose(out);
}

}  // namespace
}  // namespace kiv
