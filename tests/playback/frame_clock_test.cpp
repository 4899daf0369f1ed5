#include "playback/frame_clock.h"

#include <gtest/gtest.h>

#include "playback/fake_time.h"

namespace kiv {
namespace {

using testing::FakeTime;

TEST(FrameClockTest, InitCountsNothingAndSplitsTicksAtPeriodBoundaries) {
  FakeTime time(5000);
  FrameClock clock;
  ASSERT_EQ(clock.Init(100), 1);
  EXPECT_EQ(clock.PeriodMs, 10);
  EXPECT_EQ(clock.LastTickTime, 5000u);
  EXPECT_EQ(clock.ElapsedTicks, 0.0);

  time.Advance(35);
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 3.0);
  EXPECT_EQ(clock.LastTickTime, 5030u);  // 5 ms stay pending
  time.Advance(5);
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 4.0);

  // Calling often adds nothing; the count is the user's to consume.
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 4.0);
  clock.ElapsedTicks = 0.0;
  time.Advance(1000);  // one second unattended
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 100.0);
}

TEST(FrameClockTest, RateThatDoesNotDivideAThousandIsTruncated) {
  FakeTime time(0);
  FrameClock clock;
  ASSERT_EQ(clock.Init(60), 1);
  EXPECT_EQ(clock.PeriodMs, 16);
  for (int i = 0; i < 1000; ++i) {
    time.Advance(1);  // irregular callers do not drift
    clock.Update();
  }
  EXPECT_EQ(clock.ElapsedTicks, 62.0);
  time.Advance(1000);
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 125.0);  // 2000 ms / 16
}

TEST(FrameClockTest, TimerWrapLosesOnlyThePeriodInProgress) {
  FakeTime time(0xFFFFFFF0u);
  FrameClock clock;
  ASSERT_EQ(clock.Init(100), 1);
  time.Set(0xFFFFFFFFu);
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 1.0);
  EXPECT_EQ(clock.LastTickTime, 0xFFFFFFFAu);

  time.Set(4);  // wrapped
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 1.0);
  EXPECT_EQ(clock.LastTickTime, 4u);
  time.Set(24);
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 3.0);
}

TEST(FrameClockTest, RatesOutsideOneToAThousandChangeNothing) {
  FakeTime time(777);
  FrameClock clock;
  ASSERT_EQ(clock.Init(100), 1);
  time.Advance(25);
  clock.Update();
  for (int rate : {0, -1, -100, 1001, 100000}) {
    EXPECT_EQ(clock.Init(rate), 0) << rate;
    EXPECT_EQ(clock.PeriodMs, 10);
    EXPECT_EQ(clock.LastTickTime, 797u);
    EXPECT_EQ(clock.ElapsedTicks, 2.0);
  }
  EXPECT_EQ(clock.Init(1000), 1);
  EXPECT_EQ(clock.PeriodMs, 1);
  EXPECT_EQ(clock.Init(1), 1);
  EXPECT_EQ(clock.PeriodMs, 1000);
}

TEST(FrameClockTest, UpdateBeforeInitCountsNothing) {
  FakeTime time(50);
  FrameClock clock;
  time.Advance(500);
  clock.Update();
  EXPECT_EQ(clock.ElapsedTicks, 0.0);
  EXPECT_EQ(&TheFrameClock(), &TheFrameClock());
}

}  // namespace
}  // namespace kiv
