#include "resources/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

// Each step runs on the reader left by the one before: what it returns, the
// value read, and the offset after it. A failed read must consume nothing.
TEST(ByteReader, NeverReadsPastItsEnd) {
  const std::uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12, 0xFF, 0x00, 0x00, 0x80, 0xAA, 0xBB};
  ByteReader reader(ByteSpan(bytes, sizeof bytes));
  enum Op { kLe32, kSkip, kSeek, kTake };
  struct Step {
    Op op;
    std::size_t count;  // bytes to skip or take, or the offset to seek to
    bool ok;
    std::uint32_t value;
    std::int64_t offsetAfter;
  };
  const Step steps[] = {
      {kLe32, 0, true, 0x12345678u, 4},   // little-endian order
      {kLe32, 0, true, 0x800000FFu, 8},   // high bit kept, no sign
      {kLe32, 0, false, 0, 8},            // two bytes left: refused whole
      {kTake, 3, false, 0, 8},
      {kTake, 2, true, 0xAA, 10},         // exactly what is left
      {kSkip, 1, false, 0, 10},
      {kSeek, 11, false, 0, 10},          // one past the end
      {kSeek, 10, true, 0, 10},           // the end itself
      {kSeek, 6, true, 0, 6},
      {kSkip, SIZE_MAX, false, 0, 6},     // a count that would wrap
      {kLe32, 0, true, 0xBBAA8000u, 10},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    std::uint32_t value = 0;
    ByteSpan taken;
    bool ok = false;
    switch (step.op) {
      case kLe32: ok = reader.ReadLe32(&value); break;
      case kSkip: ok = reader.Skip(step.count); break;
      case kSeek: ok = reader.Seek(step.count); break;
      case kTake:
        ok = reader.Take(step.count, &taken);
        if (ok) {
          value = taken[0];
          EXPECT_EQ(taken.size(), step.count) << "step " << i;
        }
        break;
    }
    EXPECT_EQ(ok, step.ok) << "step " << i;
    if (step.op == kLe32 || step.op == kTake) {
      EXPECT_EQ(value, step.value) << "step " << i;
    }
    EXPECT_EQ(reader.offset(), step.offsetAfter) << "step " << i;
    EXPECT_EQ(reader.left(), sizeof bytes - static_cast<std::size_t>(step.offsetAfter)) << "step " << i;
  }
}

TEST(ByteReader, EmptyInputRefusesEveryRead) {
  ByteReader reader{ByteSpan()};
  std::uint32_t value = 7;
  ByteSpan taken;
  EXPECT_FALSE(reader.ReadLe32(&value));
  EXPECT_EQ(value, 7u);
  EXPECT_FALSE(reader.Take(1, &taken));
  EXPECT_TRUE(reader.Take(0, &taken));
  EXPECT_TRUE(reader.Seek(0));
  EXPECT_FALSE(reader.Seek(1));
}

}  // namespace
}  // namespace kiv
