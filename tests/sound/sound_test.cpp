#include "sound/sound.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sound/direct_sound_mocks.h"

namespace kiv {
namespace {

using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;

using test::MockBuffer;

// The Sound only tests its device for null; it never calls it.
IDirectSound* SomeDevice() {
  static int marker;
  return reinterpret_cast<IDirectSound*>(&marker);
}

TEST(SoundTest, BytesPerSecondUsesUnsigned32BitArithmetic) {
  Sound sound;
  sound.channels = 1;
  sound.bits = 8;
  sound.rate = 22050;
  EXPECT_EQ(sound.BytesPerSecond(), 22050);
  sound.channels = 2;
  sound.bits = 16;
  sound.rate = 44100;
  EXPECT_EQ(sound.BytesPerSecond(), 176400);
  // 32 * 0x7FFFFFFF wraps to 0xFFFFFFE0 before the shift.
  sound.rate = 0x7FFFFFFF;
  EXPECT_EQ(sound.BytesPerSecond(), 0x1FFFFFFC);
}

TEST(SoundTest, PlaySetsThePositionThenPlaysOnceOrLooping) {
  StrictMock<MockBuffer> buffer;
  Sound sound;
  sound.device = SomeDevice();
  sound.buffer = &buffer;
  {
    InSequence order;
    EXPECT_CALL(buffer, SetCurrentPosition(0u)).WillOnce(Return(DS_OK));
    EXPECT_CALL(buffer, Play(0u, 0u, DSBPLAY_LOOPING)).WillOnce(Return(DS_OK));
    EXPECT_CALL(buffer, SetCurrentPosition(4000u)).WillOnce(Return(DS_OK));
    EXPECT_CALL(buffer, Play(0u, 0u, 0u)).WillOnce(Return(DS_OK));
  }
  EXPECT_EQ(sound.Play(1, 0), 1);
  EXPECT_EQ(sound.Play(0, 4000), 1);

  // A refused position: no Play at all.
  EXPECT_CALL(buffer, SetCurrentPosition(99999u)).WillOnce(Return(DSERR_INVALIDPARAM));
  EXPECT_EQ(sound.Play(0, 99999), 0);
  EXPECT_CALL(buffer, SetCurrentPosition(0u)).WillOnce(Return(DS_OK));
  EXPECT_CALL(buffer, Play(0u, 0u, DSBPLAY_LOOPING)).WillOnce(Return(DSERR_BUFFERLOST));
  EXPECT_EQ(sound.Play(7, 0), 0);
}

TEST(SoundTest, PanAndStopReportTheBufferResultAndNeedABuffer) {
  StrictMock<MockBuffer> buffer;
  Sound sound;
  sound.device = SomeDevice();
  sound.buffer = &buffer;
  EXPECT_CALL(buffer, SetPan(-2500)).WillOnce(Return(DS_OK));
  EXPECT_CALL(buffer, SetPan(20000)).WillOnce(Return(DSERR_INVALIDPARAM));
  EXPECT_EQ(sound.SetPan(-2500), 1);
  EXPECT_EQ(sound.SetPan(20000), 0);
  EXPECT_CALL(buffer, Stop()).WillOnce(Return(DS_OK)).WillOnce(Return(DSERR_GENERIC));
  EXPECT_EQ(sound.Stop(), 1);
  EXPECT_EQ(sound.Stop(), 0);

  // A device but no buffer: failures instead of calls through null.
  sound.buffer = nullptr;
  EXPECT_EQ(sound.Stop(), 0);
  EXPECT_EQ(sound.Play(1, 0), 0);
  EXPECT_EQ(sound.SetPan(0), 0);
}

TEST(SoundTest, DestroyStopsThenReleasesTheBuffer) {
  StrictMock<MockBuffer> buffer;
  auto* sound = new Sound;
  sound->device = SomeDevice();
  sound->buffer = &buffer;
  InSequence order;
  EXPECT_CALL(buffer, Stop()).WillOnce(Return(DS_OK));
  EXPECT_CALL(buffer, Release()).WillOnce(Return(0));
  sound->Destroy();  // frees the Sound; ASan reports a leak otherwise

  // Deleting a Sound leaves its buffer alone (the strict mock fails on any call).
  auto* plain = new Sound;
  plain->device = SomeDevice();
  plain->buffer = &buffer;
  delete plain;
}

}  // namespace
}  // namespace kiv
