#include "frame_range.h"

#include <gtest/gtest.h>

namespace kivtool {
namespace {

TEST(FrameRange, TakesTwoFrameNumbersInOrderOrOne) {
  FrameRange range;
  ASSERT_TRUE(ParseFrameRange("3-9998", &range));
  EXPECT_EQ(range.from, 3u);
  EXPECT_EQ(range.to, 9998u);
  ASSERT_TRUE(ParseFrameRange("5", &range));
  EXPECT_EQ(range.from, 5u);
  EXPECT_EQ(range.to, 5u);
  for (const char* bad : {"", "7-3", "3-", "-3", "3-9999", "a-b", "3 - 4", "+3-4", "1-2-3", "99999999999-1"}) {
    EXPECT_FALSE(ParseFrameRange(bad, &range)) << bad;
  }
}

}  // namespace
}  // namespace kivtool
