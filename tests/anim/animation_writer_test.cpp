#include "anim/animation_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "anim/animation_file.h"

namespace kiv {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t At32(const Bytes& bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

TEST(AnimationWriter, LaysOutTheHeaderFieldByField) {
  AnimationWriteOptions options;
  options.version = 949;
  options.frameRate = 12.5f;
  options.firstFrame = 7;
  options.loopStart = 8;
  options.loopEnd = 9;
  options.width = 3;
  options.height = 2;
  options.markRepeats = true;
  const Bytes a{1, 2, 3, 4, 5, 6};
  Bytes out;
  std::string error;
  ASSERT_TRUE(WriteAnimationToMemory(options, {a, a, Bytes(6, 0)}, {}, &out, &error)) << error;
  EXPECT_EQ(std::memcmp(out.data(), "KIVA", 4), 0);
  EXPECT_EQ(At32(out, 8), 949u);
  EXPECT_EQ(At32(out, 12), 0x41480000u);  // 12.5f
  EXPECT_EQ(At32(out, 16), 7u);
  EXPECT_EQ(At32(out, 20), 9u);  // 7 + 3 - 1
  EXPECT_EQ(At32(out, 24), 8u);
  EXPECT_EQ(At32(out, 28), 9u);
  EXPECT_EQ(At32(out, 32), 3u);
  EXPECT_EQ(At32(out, 36), 2u);
  // Reserved block of zeros, then the all-zero background: one run of 6.
  EXPECT_TRUE(std::all_of(out.begin() + 40, out.begin() + 6520, [](std::uint8_t b) { return b == 0; }));
  const Bytes backgroundChunk{'F', 'R', 'M', 'E', 3, 0, 0, 0, 0x00, 0x06, 0x00};
  EXPECT_TRUE(std::equal(backgroundChunk.begin(), backgroundChunk.end(), out.begin() + 6520));
  // Flags 0 1 0, then two chunks.
  EXPECT_EQ(At32(out, 6531), 0u);
  EXPECT_EQ(At32(out, 6535), 1u);
  EXPECT_EQ(At32(out, 6539), 0u);
  const Bytes frame0{'F', 'R', 'M', 'E', 7, 0, 0, 0, 0x86, 1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(std::equal(frame0.begin(), frame0.end(), out.begin() + 6543));
  EXPECT_EQ(out.size(), 6543u + frame0.size() + 11u);
}

TEST(AnimationWriter, OlderVersionsStoreEveryFrameAndPadLegacyFrames) {
  const Bytes frame(720 * 576, 5);
  for (std::int32_t version : {909, 919, 929}) {
    AnimationWriteOptions options;
    options.version = version;
    options.markRepeats = true;  // not representable: both frames get a chunk
    Bytes out;
    ASSERT_TRUE(WriteAnimationToMemory(options, {frame, frame}, {}, &out, nullptr));
    std::size_t chunks = 0;
    for (std::size_t i = 0; i + 4 <= out.size(); ++i) chunks += std::memcmp(&out[i], "FRME", 4) == 0;
    EXPECT_EQ(chunks, 3u) << version;
    // The first frame chunk follows the background chunk (one run of 414720 = 7 tokens).
    const std::size_t first = static_cast<std::size_t>(BackgroundOffsetOf(version)) + 8 + At32(out, BackgroundOffsetOf(version) + 4);
    FrameChunk chunk;
    chunk.payload = new std::uint8_t[At32(out, first + 4)];
    chunk.compressedSize = static_cast<std::int32_t>(At32(out, first + 4));
    std::memcpy(chunk.payload, &out[first + 8], static_cast<std::size_t>(chunk.compressedSize));
    const bool legacy = version != 929;
    Bytes picture(legacy ? kLegacyPictureSize : 720 * 576, 0xEE);
    ASSERT_TRUE(chunk.Decode(picture.data(), picture.size()));
    EXPECT_EQ(chunk.CheckTokens(picture.size()).written, picture.size());
    if (legacy) {
      EXPECT_EQ(picture[0], 0);      // padding column 0
      EXPECT_EQ(picture[23], 0);
      EXPECT_EQ(picture[24], 5);     // picture column 0
      EXPECT_EQ(picture[743], 5);
      EXPECT_EQ(picture[744], 0);
    }
  }
}

TEST(AnimationWriter, RefusesWhatNoFileCanHold) {
  const Bytes frame(720 * 576, 1);
  std::string error;
  Bytes out;
  AnimationWriteOptions options;
  EXPECT_FALSE(WriteAnimationToMemory(options, {}, {}, &out, &error));
  options.version = 948;
  EXPECT_FALSE(WriteAnimationToMemory(options, {frame}, {}, &out, &error));
  options = {};
  options.version = 939;
  options.width = 640;
  EXPECT_FALSE(WriteAnimationToMemory(options, {Bytes(640 * 576)}, {}, &out, &error));
  options = {};
  options.firstFrame = 9998;
  EXPECT_TRUE(WriteAnimationToMemory(options, {frame}, {}, &out, &error));
  EXPECT_FALSE(WriteAnimationToMemory(options, {frame, frame}, {}, &out, &error));
  options = {};
  options.frameRate = -1.0f;
  EXPECT_FALSE(WriteAnimationToMemory(options, {frame}, {}, &out, &error));
  options = {};
  EXPECT_FALSE(WriteAnimationToMemory(options, {Bytes(10)}, {}, &out, &error));
  EXPECT_THAT(error, ::testing::HasSubstr("frame 0"));
  EXPECT_FALSE(WriteAnimationToMemory(options, {frame}, Bytes(3), &out, &error));
  EXPECT_FALSE(WriteAnimation("/nonexistent-dir/x.kiv", options, {frame}, {}, &error));
}

}  // namespace
}  // namespace kiv
