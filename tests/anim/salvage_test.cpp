#include "anim/salvage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "anim/animation_writer.h"
#include "anim_fixtures.h"

namespace kiv {
namespace {

using namespace kiv::testing;
using Bytes = std::vector<std::uint8_t>;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Runs of value v that expand to more than `buffer` bytes.
Bytes RunsPast(std::size_t buffer, std::uint8_t v) {
  Bytes out;
  for (std::size_t n = 0; n <= buffer; n += 0x7FF8) out.insert(out.end(), {0x7F, 0xF8, v});
  return out;
}

// A run of exactly `count` bytes of v.
Bytes RunOf(std::size_t count, std::uint8_t v) {
  Bytes out;
  for (; count > 0x7FFF; count -= 0x7FFF) out.insert(out.end(), {0x7F, 0xFF, v});
  out.insert(out.end(), {static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count & 0xFF), v});
  return out;
}

// An 8 x 4 file of five frames: a run of 32 bytes of the frame's value
// each, frame 2 a repeat of frame 1; badFrame's runs overrun the frame
// buffer (past the picture alone is sound).
Bytes FiveFrames(int badFrame, const Bytes& background = {0x00, 32, 9}) {
  AnimationWriteOptions options;
  options.width = 8;
  options.height = 4;
  std::vector<Bytes> chunks;
  for (std::uint8_t f : {0, 1, 3, 4}) {
    chunks.push_back(f == badFrame ? RunsPast(kFrameBufferSize, f) : Bytes{0x00, 32, f});
  }
  return AssembleAnimation(options, 4, background, {0, 0, 1, 0, 0}, chunks);
}

struct Salvaged {
  bool salvaged = false;
  AnimationError error;
  std::vector<std::string> damage;
  OwnedTables tables;
};

void Salvage(const Bytes& file, Salvaged* out) {
  const std::string path = WriteScratch("salvage.kiv", file);
  std::unique_ptr<std::FILE, FileCloser> stream(std::fopen(path.c_str(), "rb"));
  AnimationHeader header{};
  ASSERT_TRUE(ReadAnimationHeaderStream(stream.get(), &header, &out->error));
  ASSERT_FALSE(LoadAnimation(path.c_str(), out->tables.View(), &out->error));
  out->salvaged = SalvageFrames(stream.get(), file.size(), header, out->error, out->tables.View(), &out->damage);
}

TEST(Salvage, KeepsEveryFrameThatReadsAndSaysWhyOthersWereLost) {
  // Bad tokens in frame 1: the chunks after it are still found.
  Salvaged tokens;
  Salvage(FiveFrames(1), &tokens);
  EXPECT_EQ(tokens.error.part, AnimationError::Part::kFrame);
  EXPECT_EQ(tokens.error.frame, 1u);
  ASSERT_TRUE(tokens.salvaged);
  for (std::uint8_t f : {0, 3, 4}) EXPECT_EQ(Expanded(tokens.tables.frames[f], 32), Bytes(32, f)) << int{f};
  EXPECT_EQ(tokens.tables.frames[1], nullptr);
  EXPECT_EQ(tokens.damage[1], tokens.error.what);
  EXPECT_EQ(tokens.tables.frames[2], nullptr);
  EXPECT_EQ(tokens.damage[2], "repeats damaged frame 1");
  EXPECT_TRUE(tokens.damage[3].empty());

  // A file cut inside frame 3: nothing after the cut can be found.
  Bytes cut = FiveFrames(-1);
  cut.resize(cut.size() - 11 - 2);  // frame 4's whole chunk and two bytes of frame 3's
  Salvaged truncated;
  Salvage(cut, &truncated);
  EXPECT_EQ(truncated.error.frame, 3u);
  ASSERT_TRUE(truncated.salvaged);
  EXPECT_EQ(Expanded(truncated.tables.frames[2], 32), Bytes(32, 1));
  EXPECT_EQ(truncated.tables.frames[3], nullptr);
  EXPECT_EQ(truncated.damage[4], "lies after the damage in frame 3");
}

TEST(Salvage, KeepsAChunkPastItsPictureButWithinItsBuffer) {
  // Frame 1 overruns its buffer; frame 2 expands past its picture but not
  // past the buffer, which a strict load plays, so salvage keeps it too.
  struct Case {
    std::int32_t version, width, height;
    std::size_t past, buffer;
  };
  for (const Case& c : {Case{949, 8, 4, 64, kFrameBufferSize},
                        Case{909, 720, 576, kFrameBufferSize + 8, kLegacyScratchSize}}) {
    SCOPED_TRACE(c.version);
    AnimationWriteOptions options;
    options.version = c.version;
    options.width = c.width;
    options.height = c.height;
    const std::size_t picture = static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height);
    Salvaged salvaged;
    Salvage(AssembleAnimation(options, 2, RunOf(picture, 9), {0, 0, 0},
                              {RunOf(picture, 0), RunsPast(c.buffer, 1), RunOf(c.past, 2)}),
            &salvaged);
    EXPECT_EQ(salvaged.error.frame, 1u);
    ASSERT_TRUE(salvaged.salvaged);
    EXPECT_NE(salvaged.tables.frames[0], nullptr);
    EXPECT_EQ(salvaged.tables.frames[1], nullptr);
    EXPECT_NE(salvaged.tables.frames[2], nullptr) << salvaged.damage[2];
  }
}

TEST(Salvage, DamageOutsideTheFramesLeavesNothingToSalvage) {
  // The background's runs overrun the background buffer.
  Bytes file = FiveFrames(-1, RunsPast(kBackgroundBufferSize, 9));
  Salvaged damaged;
  Salvage(file, &damaged);
  EXPECT_EQ(damaged.error.part, AnimationError::Part::kBackground);
  EXPECT_EQ(damaged.error.where, "background");
  EXPECT_FALSE(damaged.salvaged);
  EXPECT_TRUE(damaged.damage.empty());
}

}  // namespace
}  // namespace kiv
