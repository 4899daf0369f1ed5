#include "app/linux/sdl_events.h"

#include <gtest/gtest.h>

#include "display/sdl/cursors.h"
#include "playback/frame_clock.h"
#include "shell/shell_flags.h"

namespace kiv {
namespace {

class SdlEventsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetShellFlags(); }
  void TearDown() override { ResetShellFlags(); }
};

TEST_F(SdlEventsTest, ActivationTableRowByRow) {
  struct Row {
    std::uint8_t gain;
    std::uint8_t state;
    std::int32_t activeBefore;
    std::int32_t activeAfter;
    bool ticksCleared;
  } rows[] = {
      {1, 0x04, 0, 1, true},   // restored
      {1, 0x07, 0, 1, true},   // restored with focus: the bit decides, not equality
      {1, 0x02, 0, 0, true},   // input focus gained only
      {1, 0x01, 1, 1, true},   // mouse focus gained only
      {0, 0x04, 1, 0, false},  // minimised
      {0, 0x06, 1, 0, false},
      {0, 0x02, 1, 1, false},  // focus lost: playback goes on
      {0, 0x01, 1, 1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "gain " << int(row.gain) << " state " << int(row.state));
    AppActive = row.activeBefore;
    TheFrameClock().ElapsedTicks = 12.0;
    HandleSdlEvent({kEventActive, row.gain, row.state});
    EXPECT_EQ(AppActive, row.activeAfter);
    EXPECT_EQ(TheFrameClock().ElapsedTicks, row.ticksCleared ? 0.0 : 12.0);
    EXPECT_EQ(CurrentCursorIndex(), -1);
  }
}

TEST_F(SdlEventsTest, QuitEventsSetTheFlag) {
  ::testing::internal::CaptureStdout();
  HandleSdlEvent({kEventQuit, 0, 0});
  HandleSdlEvent({kEventQuit, 0, 0});
  EXPECT_EQ(QuitRequested, 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(SdlEventsTest, OtherEventsAreOnlyPrinted) {
  ::testing::internal::CaptureStdout();
  for (std::uint8_t type : {4, 2, 3, 5, 0}) {
    HandleSdlEvent({type, 1, 0x04});
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "unhandled event 4\nunhandled event 2\nunhandled event 3\nunhandled event 5\nunhandled event 0\n");
  EXPECT_EQ(AppActive, 1);
  EXPECT_EQ(QuitRequested, 0);
}

}  // namespace
}  // namespace kiv
