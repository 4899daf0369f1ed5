#include "convert/gif_reader.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace kiv {
namespace {

struct FrameSpec {
  int left, top, width, height;
  bool interlace;
  std::vector<GifColorType> local;  // empty: the global table
  int disposal, transparent, delay;
  std::vector<std::uint8_t> pixels;  // rows top first
};

int Append(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

// A GIF written by giflib itself, row by row in the order the file keeps
// (the interlaced passes for an interlaced frame).
std::vector<std::uint8_t> MakeGif(int width, int height, const std::vector<GifColorType>& global,
                                  const std::vector<FrameSpec>& frames) {
  std::vector<std::uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, Append, &error);
  EGifSetGifVersion(gif, true);
  ColorMapObject* map = GifMakeMapObject(static_cast<int>(global.size()), global.data());
  EGifPutScreenDesc(gif, width, height, 8, 0, map);
  GifFreeMapObject(map);
  for (const FrameSpec& frame : frames) {
    GraphicsControlBlock control{frame.disposal, false, frame.delay, frame.transparent};
    GifByteType block[4];
    EGifGCBToExtension(&control, block);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block);
    ColorMapObject* local =
        frame.local.empty() ? nullptr : GifMakeMapObject(static_cast<int>(frame.local.size()), frame.local.data());
    // giflib drops the previous frame's local table without freeing it when
    // the next frame has none; free it here.
    if (local == nullptr && gif->Image.ColorMap != nullptr) {
      GifFreeMapObject(gif->Image.ColorMap);
      gif->Image.ColorMap = nullptr;
    }
    EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlace, local);
    GifFreeMapObject(local);
    std::vector<int> order;
    if (frame.interlace) {
      for (int pass : {0, 1, 2, 3}) {
        const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
        for (int y = start[pass]; y < frame.height; y += step[pass]) order.push_back(y);
      }
    } else {
      for (int y = 0; y < frame.height; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::vector<GifPixelType> row(frame.pixels.begin() + y * frame.width,
                                    frame.pixels.begin() + (y + 1) * frame.width);
      EGifPutLine(gif, row.data(), frame.width);
    }
  }
  EGifCloseFile(gif, &error);
  return out;
}

const GifColorType kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};
const GifColorType kBlack{0, 0, 0}, kYellow{255, 255, 0};

// "r" red, "g" green, "b" blue, "w" white, "y" yellow, "." nothing drawn.
std::string Canvas(const Picture& picture) {
  std::string text;
  for (int i = 0; i < picture.width * picture.height; ++i) {
    const std::uint8_t* p = &picture.rgba[4 * static_cast<std::size_t>(i)];
    char c = '?';
    if (p[3] == 0) c = '.';
    else if (p[0] == 255 && p[1] == 0 && p[2] == 0) c = 'r';
    else if (p[0] == 0 && p[1] == 255 && p[2] == 0) c = 'g';
    else if (p[0] == 0 && p[1] == 0 && p[2] == 255) c = 'b';
    else if (p[0] == 255 && p[1] == 255 && p[2] == 255) c = 'w';
    else if (p[0] == 255 && p[1] == 255 && p[2] == 0) c = 'y';
    text += c;
    if (i % picture.width == picture.width - 1) text += '/';
  }
  return text;
}

TEST(GifReader, ComposesFramesAsAViewerShowsThem) {
  const std::vector<std::uint8_t> bytes = MakeGif(
      4, 4, {kRed, kGreen, kBlue, kWhite},
      {
          {0, 0, 4, 4, false, {}, DISPOSE_DO_NOT, NO_TRANSPARENT_COLOR, 7, std::vector<std::uint8_t>(16, 0)},
          // A local table, an offset and a transparent index; then cleared.
          {1, 1, 2, 2, false, {kBlack, kYellow}, DISPOSE_BACKGROUND, 0, 4, {1, 0, 0, 1}},
          // Drawn, then taken back to the canvas before it.
          {0, 0, 1, 1, false, {}, DISPOSE_PREVIOUS, NO_TRANSPARENT_COLOR, 4, {2}},
          // Reaches past the screen: only the part inside is drawn.
          {3, 3, 2, 2, false, {}, DISPOSE_DO_NOT, NO_TRANSPARENT_COLOR, 4, {3, 3, 3, 3}},
          // Interlaced rows come back in their places.
          {0, 0, 4, 4, true, {}, DISPOSE_DO_NOT, NO_TRANSPARENT_COLOR, 4,
           {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}},
      });
  GifReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(std::span<const std::uint8_t>(bytes), {}, &error)) << error;
  Picture picture;
  std::uint32_t delay = 0;
  const char* expected[] = {"rrrr/rrrr/rrrr/rrrr/", "rrrr/ryrr/rryr/rrrr/", "brrr/r..r/r..r/rrrr/",
                            "rrrr/r..r/r..r/rrrw/", "rrrr/gggg/bbbb/wwww/"};
  for (const char* canvas : expected) {
    ASSERT_EQ(reader.Next(&picture, &delay, &error), ReadStatus::kPicture) << error;
    EXPECT_EQ(Canvas(picture), canvas);
  }
  EXPECT_EQ(reader.Next(&picture, &delay, &error), ReadStatus::kEnd);

  GifReader first;
  ASSERT_TRUE(first.Open(std::span<const std::uint8_t>(bytes), {}, &error));
  ASSERT_EQ(first.Next(&picture, &delay, &error), ReadStatus::kPicture);
  EXPECT_EQ(delay, 7u);
}

TEST(GifReader, RefusesOversizeAndDamagedFiles) {
  const std::vector<std::uint8_t> big =
      MakeGif(2000, 1000, {kRed, kGreen}, {{0, 0, 1, 1, false, {}, 0, NO_TRANSPARENT_COLOR, 0, {0}}});
  GifReader reader;
  std::string error;
  EXPECT_FALSE(reader.Open(std::span<const std::uint8_t>(big), {}, &error));
  EXPECT_NE(error.find("2000x1000"), std::string::npos) << error;
  // A screen of as many pixels as allowed opens; one pixel more does not.
  PictureLimits six;
  six.maxPixels = 6;
  for (const auto& [width, opens] : {std::pair{3, true}, std::pair{4, false}}) {
    const std::vector<std::uint8_t> gif = MakeGif(
        width, 2, {kRed, kGreen}, {{0, 0, 1, 1, false, {}, 0, NO_TRANSPARENT_COLOR, 0, {0}}});
    GifReader sized;
    EXPECT_EQ(sized.Open(std::span<const std::uint8_t>(gif), six, &error), opens) << width << ": " << error;
  }

  // Cut short in every place: an error, never a crash or a read past the end.
  const std::vector<std::uint8_t> good = MakeGif(
      4, 4, {kRed, kGreen}, {{0, 0, 4, 4, true, {}, 0, NO_TRANSPARENT_COLOR, 0, std::vector<std::uint8_t>(16, 1)}});
  for (std::size_t size = 0; size + 1 < good.size(); ++size) {
    GifReader cut;
    Picture picture;
    std::uint32_t delay = 0;
    if (!cut.Open(std::span<const std::uint8_t>(good.data(), size), {}, &error)) continue;
    ReadStatus status = ReadStatus::kPicture;
    for (int i = 0; i < 3 && status == ReadStatus::kPicture; ++i) status = cut.Next(&picture, &delay, &error);
    EXPECT_NE(status, ReadStatus::kPicture) << size;
  }
}

}  // namespace
}  // namespace kiv
