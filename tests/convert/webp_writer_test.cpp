#include "convert/webp_writer.h"

#include <gtest/gtest.h>
#include <webp/demux.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "convert/png_io.h"

namespace kiv {
namespace {

struct Decoded {
  std::vector<std::vector<std::uint8_t>> rgba;  // each frame's canvas
  std::vector<int> ends;                        // each frame's end in ms
  int loops = -1;
};

// libwebp's own animation decoder: offsets, blending and disposal applied.
Decoded Decode(const std::vector<std::uint8_t>& file) {
  Decoded out;
  const WebPData data{file.data(), file.size()};
  WebPAnimDecoderOptions options;
  WebPAnimDecoderOptionsInit(&options);
  options.color_mode = MODE_RGBA;
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  if (decoder == nullptr) return out;
  WebPAnimInfo info;
  WebPAnimDecoderGetInfo(decoder, &info);
  out.loops = static_cast<int>(info.loop_count);
  while (WebPAnimDecoderHasMoreFrames(decoder)) {
    std::uint8_t* canvas = nullptr;
    int end = 0;
    if (!WebPAnimDecoderGetNext(decoder, &canvas, &end)) break;
    out.rgba.emplace_back(canvas, canvas + 4 * info.canvas_width * info.canvas_height);
    out.ends.push_back(end);
  }
  WebPAnimDecoderDelete(decoder);
  return out;
}

std::vector<std::uint8_t> Palette() {
  std::vector<std::uint8_t> palette(768);
  for (std::size_t i = 0; i < 768; ++i) palette[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return palette;
}

TEST(WebpWriter, DecodesToTheExactColoursTimesAndTransparency) {
  constexpr std::int32_t kWidth = 5, kHeight = 3;
  constexpr double kRate = 29.97;
  const std::vector<std::uint8_t> palette = Palette();
  // Three pictures: a ramp, index 127 opening a hole, then a colour again.
  std::vector<std::vector<std::uint8_t>> pictures(3, std::vector<std::uint8_t>(kWidth * kHeight));
  for (std::size_t i = 0; i < pictures[0].size(); ++i) {
    pictures[0][i] = static_cast<std::uint8_t>(10 * i);
    pictures[1][i] = i % 2 == 0 ? 127 : static_cast<std::uint8_t>(200 + i);
    pictures[2][i] = static_cast<std::uint8_t>(255 - i);
  }
  WebpWriter writer;
  std::string error;
  ASSERT_TRUE(writer.Open(kWidth, kHeight, palette, 127, 3, kRate, &error)) << error;
  for (std::uint32_t k = 0; k < 3; ++k) ASSERT_TRUE(writer.Add(k, pictures[k].data(), &error)) << error;
  std::vector<std::uint8_t> file;
  ASSERT_TRUE(writer.Finish(&file, &error)) << error;

  const Decoded decoded = Decode(file);
  ASSERT_EQ(decoded.rgba.size(), 3u);
  EXPECT_EQ(decoded.loops, 0);  // forever
  for (std::size_t k = 0; k < 3; ++k) {
    // Frame k lasts until round(1000 (k + 1) / rate) ms: 33, 67, 100.
    EXPECT_EQ(decoded.ends[k], static_cast<int>(std::lround(1000.0 * static_cast<double>(k + 1) / kRate)));
    for (std::size_t i = 0; i < pictures[k].size(); ++i) {
      const std::size_t index = pictures[k][i];
      const std::uint8_t* pixel = &decoded.rgba[k][4 * i];
      EXPECT_EQ(pixel[3], index == 127 ? 0 : 255) << "frame " << k << " pixel " << i;
      if (index == 127) continue;
      EXPECT_EQ(pixel[0], palette[3 * index]) << "frame " << k << " pixel " << i;
      EXPECT_EQ(pixel[1], palette[3 * index + 1]);
      EXPECT_EQ(pixel[2], palette[3 * index + 2]);
    }
  }
}

TEST(WebpWriter, LeavesOutFramesOfTheSameMillisecondAndRefusesEndlessTimes) {
  const std::vector<std::uint8_t> palette = Palette();
  std::vector<std::uint8_t> picture(4, 1);
  // At 2500 fps frames start at 0, 0.4, 0.8, 1.2 ms: rounded, 0, 0, 1, 1.
  WebpWriter fast;
  std::string error;
  ASSERT_TRUE(fast.Open(2, 2, palette, kNoTransparency, 4, 2500.0, &error)) << error;
  for (std::uint32_t k = 0; k < 4; ++k) {
    picture[0] = static_cast<std::uint8_t>(k);
    ASSERT_TRUE(fast.Add(k, picture.data(), &error)) << error;
  }
  std::vector<std::uint8_t> file;
  ASSERT_TRUE(fast.Finish(&file, &error)) << error;
  EXPECT_EQ(fast.dropped(), 2u);
  EXPECT_EQ(Decode(file).rgba.size(), 2u);
  // libwebp counts time in an int of milliseconds: 9999 frames at one a day do not fit.
  WebpWriter slow;
  EXPECT_FALSE(slow.Open(2, 2, palette, kNoTransparency, 9999, 1.0 / 86400.0, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace kiv
