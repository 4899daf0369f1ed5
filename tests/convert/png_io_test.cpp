#include "convert/png_io.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kiv {
namespace {

// A PNG of any layout written with libpng itself, so that the reader is
// checked against files it did not write. rows: packed as the bit depth says.
struct PngSpec {
  std::uint32_t width, height;
  int bitDepth, colourType;
  std::vector<std::vector<std::uint8_t>> rows;
  std::vector<png_color> palette;
  std::vector<std::uint8_t> alphas;  // tRNS for palette pictures
};

std::vector<std::uint8_t> MakePng(const PngSpec& spec) {
  std::FILE* file = std::tmpfile();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    ADD_FAILURE() << "libpng refused the fixture";
    return {};
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!spec.palette.empty()) png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
  if (!spec.alphas.empty()) png_set_tRNS(png, info, spec.alphas.data(), static_cast<int>(spec.alphas.size()), nullptr);
  png_write_info(png, info);
  for (const auto& row : spec.rows) png_write_row(png, row.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(file)));
  std::rewind(file);
  EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
  return bytes;
}

std::vector<int> Pixel(const Picture& picture, std::size_t i) {
  return {picture.rgba[4 * i], picture.rgba[4 * i + 1], picture.rgba[4 * i + 2], picture.rgba[4 * i + 3]};
}

TEST(PngRead, EveryLayoutComesInAsColours) {
  Picture picture;
  std::string error;
  // 4-bit palette: entries 0 and 1 packed in one byte, entry 1 half transparent.
  const auto paletted = MakePng({2, 1, 4, PNG_COLOR_TYPE_PALETTE, {{0x01}},
                                 {{10, 20, 30}, {200, 100, 50}}, {255, 64}});
  ASSERT_EQ(ReadPngFromMemory(paletted, {}, &picture, &error), ReadStatus::kPicture) << error;
  EXPECT_TRUE(picture.indexed);
  EXPECT_EQ(picture.indices, (std::vector<std::uint8_t>{0, 1}));
  EXPECT_EQ(Pixel(picture, 0), (std::vector<int>{10, 20, 30, 255}));
  EXPECT_EQ(Pixel(picture, 1), (std::vector<int>{200, 100, 50, 64}));

  // 2-bit grey: levels 0 to 3 widen to 0, 85, 170, 255.
  const auto grey = MakePng({4, 1, 2, PNG_COLOR_TYPE_GRAY, {{0x1B}}, {}, {}});
  ASSERT_EQ(ReadPngFromMemory(grey, {}, &picture, &error), ReadStatus::kPicture) << error;
  EXPECT_FALSE(picture.indexed);
  EXPECT_EQ(Pixel(picture, 1), (std::vector<int>{85, 85, 85, 255}));
  EXPECT_EQ(Pixel(picture, 3), (std::vector<int>{255, 255, 255, 255}));

  // Grey with alpha.
  const auto greyAlpha = MakePng({1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {{77, 100}}, {}, {}});
  ASSERT_EQ(ReadPngFromMemory(greyAlpha, {}, &picture, &error), ReadStatus::kPicture) << error;
  EXPECT_EQ(Pixel(picture, 0), (std::vector<int>{77, 77, 77, 100}));

  // 16-bit RGB: 0xABAB is 0xAB exactly.
  const auto deep = MakePng({1, 1, 16, PNG_COLOR_TYPE_RGB, {{0xAB, 0xAB, 0x12, 0x12, 0xFF, 0xFF}}, {}, {}});
  ASSERT_EQ(ReadPngFromMemory(deep, {}, &picture, &error), ReadStatus::kPicture) << error;
  EXPECT_EQ(Pixel(picture, 0), (std::vector<int>{0xAB, 0x12, 0xFF, 255}));

  // RGBA keeps its alpha.
  const auto rgba = MakePng({1, 1, 8, PNG_COLOR_TYPE_RGBA, {{1, 2, 3, 0}}, {}, {}});
  ASSERT_EQ(ReadPngFromMemory(rgba, {}, &picture, &error), ReadStatus::kPicture) << error;
  EXPECT_EQ(Pixel(picture, 0), (std::vector<int>{1, 2, 3, 0}));
}

TEST(PngRead, SizeIsCheckedBeforeAnyPixel) {
  // A header that claims 20000 x 20000 and no image data at all: refusing it
  // by size proves nothing was decoded or allocated first.
  const std::uint8_t header[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                 0, 0, 0x4e, 0x20, 0, 0, 0x4e, 0x20, 8, 2, 0, 0, 0,
                                 0x6c, 0x12, 0xd1, 0x6e,  // CRC of the IHDR chunk
                                 0, 0, 0, 0, 'I', 'D', 'A', 'T'};  // where the pixels would start
  Picture picture;
  std::string error;
  EXPECT_EQ(ReadPngFromMemory(header, {}, &picture, &error), ReadStatus::kError);
  EXPECT_NE(error.find("20000x20000"), std::string::npos) << error;

  // As many pixels as allowed are read; one pixel more is not.
  PictureLimits two;
  two.maxPixels = 2;
  EXPECT_EQ(ReadPngFromMemory(MakePng({2, 1, 8, PNG_COLOR_TYPE_GRAY, {{0, 0}}, {}, {}}), two, &picture, &error),
            ReadStatus::kPicture) << error;
  EXPECT_EQ(ReadPngFromMemory(MakePng({3, 1, 8, PNG_COLOR_TYPE_GRAY, {{0, 0, 0}}, {}, {}}), two, &picture, &error),
            ReadStatus::kError);
  EXPECT_EQ(error, "is 3x1, more than the 2 pixels a frame holds");

  // The size of the first picture binds the others.
  const auto small = MakePng({2, 1, 8, PNG_COLOR_TYPE_GRAY, {{0, 0}}, {}, {}});
  PictureLimits limits;
  limits.width = 3;
  limits.height = 1;
  EXPECT_EQ(ReadPngFromMemory(small, limits, &picture, &error), ReadStatus::kError);
  EXPECT_EQ(error, "is 2x1, the first picture 3x1");
  limits.width = 2;
  limits.height = 2;
  EXPECT_EQ(ReadPngFromMemory(small, limits, &picture, &error), ReadStatus::kError);
  EXPECT_EQ(error, "is 2x1, the first picture 2x2");
}

long PeakResidentKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(PngRead, AChunkIsRefusedBeforeItsClaimedLengthIsAllocated) {
  // A 2 GB text chunk claimed by a file that ends right after the claim (as a
  // fuzzer found it): the reader must refuse it without setting aside the
  // claimed memory first.
  std::vector<std::uint8_t> bytes = MakePng({1, 1, 8, PNG_COLOR_TYPE_GRAY, {{0}}, {}, {}});
  const std::uint8_t claim[] = {0x7f, 0xff, 0xff, 0xf0, 't', 'E', 'X', 't', 'd', 'a', 't', 'e'};
  bytes.insert(bytes.begin() + 8 + 25, std::begin(claim), std::end(claim));  // after IHDR
  Picture picture;
  std::string error;
  const long before = PeakResidentKilobytes();
  EXPECT_EQ(ReadPngFromMemory(bytes, {}, &picture, &error), ReadStatus::kError);
  EXPECT_LT(PeakResidentKilobytes() - before, 256 * 1024);
  EXPECT_EQ(error, "the picture ends early");
}

TEST(PngRead, AStreamGivesOnePictureAtATime) {
  const auto first = MakePng({1, 1, 8, PNG_COLOR_TYPE_GRAY, {{10}}, {}, {}});
  const auto second = MakePng({1, 1, 8, PNG_COLOR_TYPE_GRAY, {{20}}, {}, {}});
  std::FILE* stream = std::tmpfile();
  std::fwrite(first.data(), 1, first.size(), stream);
  std::fwrite(second.data(), 1, second.size(), stream);
  std::fwrite(second.data(), 1, 20, stream);  // a third one cut short
  std::rewind(stream);
  Picture picture;
  std::string error;
  ASSERT_EQ(ReadPng(stream, {}, &picture, &error), ReadStatus::kPicture) << error;
  EXPECT_EQ(picture.rgba[0], 10);
  ASSERT_EQ(ReadPng(stream, {}, &picture, &error), ReadStatus::kPicture) << error;
  EXPECT_EQ(picture.rgba[0], 20);
  EXPECT_EQ(ReadPng(stream, {}, &picture, &error), ReadStatus::kError);
  EXPECT_EQ(ReadPng(stream, {}, &picture, &error), ReadStatus::kEnd);
  std::fclose(stream);

  const std::uint8_t notPng[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  EXPECT_EQ(ReadPngFromMemory(notPng, {}, &picture, &error), ReadStatus::kError);
  EXPECT_EQ(error, "not a PNG file");
}

TEST(PngWrite, PalettePicturesComeBackWithTheirIndicesAndTransparency) {
  std::vector<std::uint8_t> palette(768);
  for (int i = 0; i < 768; ++i) palette[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i / 3);
  const std::vector<std::uint8_t> indices{0, 127, 200, 255};
  std::FILE* stream = std::tmpfile();
  std::string error;
  ASSERT_TRUE(WritePalettePng(stream, indices.data(), 2, 2, palette, 127, &error)) << error;
  std::rewind(stream);
  Picture picture;
  ASSERT_EQ(ReadPng(stream, {}, &picture, &error), ReadStatus::kPicture) << error;
  std::fclose(stream);
  EXPECT_EQ(picture.indices, indices);
  EXPECT_EQ(Pixel(picture, 1)[3], 0);
  EXPECT_EQ(Pixel(picture, 2), (std::vector<int>{200, 200, 200, 255}));
}

}  // namespace
}  // namespace kiv
