#include "platform/dsound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "resources/resource_manager.h"
#include "sound/sound_device.h"
#include "sound/sound_fixture.h"
#include "sound/wav_fixture.h"

namespace kiv {
namespace {

using test::Bytes;
using test::Chunk;

constexpr int kDeviceFrameBytes = 4;  // 16-bit stereo output
// What the file may lag behind the mix: SDL's queue and the stream's buffer.
constexpr std::size_t kWriteLag = 64 * 1024;

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// Waits until the buffer has played out (at most five seconds).
bool WaitUntilStopped(IDirectSoundBuffer* buffer) {
  for (int i = 0; i < 500; ++i) {
    DWORD status = 0;
    if (buffer->GetStatus(&status) != DS_OK) return false;
    if ((status & DSBSTATUS_PLAYING) == 0) return true;
    Sleep(10);
  }
  return false;
}

std::vector<std::int16_t> Samples(const Bytes& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return samples;
}

bool AllZero(Bytes::const_iterator begin, Bytes::const_iterator end) {
  return std::all_of(begin, end, [](std::uint8_t b) { return b == 0; });
}

// Sum of squares of one channel of 16-bit stereo output.
double Energy(const Bytes& output, int channel) {
  double sum = 0;
  const std::vector<std::int16_t> samples = Samples(output);
  for (std::size_t i = channel; i < samples.size(); i += 2) sum += double(samples[i]) * samples[i];
  return sum;
}

// Plays through the SoundDevice on SDL's disk driver, which writes the mixed
// 44,100 Hz 16-bit stereo stream to a file in real time.
class DiskOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resources_.RegisterFileSystem(&files_);
    device_.SetWindow(test::TestWindow(), nullptr);
  }
  void TearDown() override { device_.SetWindow(nullptr, nullptr); }

  // Loads the file, runs `action` on the Sound while the device is open, and
  // returns everything the device wrote.
  Bytes Capture(const Bytes& wav, const std::function<void(Sound*)>& action) {
    output_ = dir_.Path("out" + std::to_string(++count_) + ".raw");
    test::ScopedEnv file("SDL_DISKAUDIOFILE", output_);
    EXPECT_EQ(device_.Init(), 1);
    const std::string path = dir_.Path("in" + std::to_string(count_) + ".wav");
    test::WriteBytes(path, wav);
    Sound* sound = device_.LoadWav(path.c_str());
    EXPECT_NE(sound, nullptr);
    EXPECT_NE(sound, SilentSound());
    if (sound != nullptr) {
      action(sound);
      sound->Destroy();
    }
    device_.Release();  // closes the output file
    return test::ReadBytes(output_);
  }

  std::size_t OutputSize() const {
    std::error_code error;
    const auto size = std::filesystem::file_size(output_, error);
    return error ? 0 : static_cast<std::size_t>(size);
  }

  // Waits until the device has written `bytes` (at most ten seconds).
  bool WaitForOutput(std::size_t bytes) const {
    for (int i = 0; i < 1000; ++i) {
      if (OutputSize() >= bytes) return true;
      Sleep(10);
    }
    return false;
  }

  // 0.05 s of sox noise, 16-bit stereo at 44,100 Hz: the device's own format.
  Bytes SoxNoise() {
    const std::string path = dir_.Path("noise.wav");
    EXPECT_TRUE(test::Run("sox -n -r 44100 -b 16 -c 2 " + path + " synth 0.05 whitenoise"));
    Bytes wav = test::ReadBytes(path);
    samples_ = test::ChunkPayload(test::SplitChunks(wav), "data");
    EXPECT_EQ(samples_.size(), 8820u);
    return wav;
  }

  test::ScopedEnv driver_{"SDL_AUDIODRIVER", "disk"};
  test::TempDir dir_;
  test::TrackingFileSystem files_;
  ResourceManager resources_;
  SoundDevice device_{&resources_};
  Bytes samples_;
  std::string output_;
  int count_ = 0;
};

TEST_F(DiskOutputTest, PlayedSoundReachesTheOutputByteForByte) {
  const Bytes wav = SoxNoise();
  const Bytes out = Capture(wav, [](Sound* sound) {
    ASSERT_EQ(sound->Play(0, 0), 1);
    EXPECT_TRUE(WaitUntilStopped(sound->buffer));
  });
  const auto at = std::search(out.begin(), out.end(), samples_.begin(), samples_.end());
  ASSERT_NE(at, out.end()) << "sound not found in " << out.size() << " output bytes";
  EXPECT_EQ((at - out.begin()) % kDeviceFrameBytes, 0);
  EXPECT_TRUE(AllZero(out.begin(), at)) << "silence before the sound";
  EXPECT_TRUE(AllZero(at + samples_.size(), out.end())) << "played once, then silence";
}

TEST_F(DiskOutputTest, LoopingRepeatsTheSoundUntilStopped) {
  const Bytes wav = SoxNoise();
  const std::size_t length = samples_.size();
  std::size_t stoppedBefore = 0;
  const Bytes out = Capture(wav, [&](Sound* sound) {
    ASSERT_EQ(sound->Play(1, 0), 1);
    // Three passes and more, whatever the machine's load.
    ASSERT_TRUE(WaitForOutput(OutputSize() + 3 * length + kWriteLag));
    DWORD status = 0;
    ASSERT_EQ(sound->buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    EXPECT_EQ(sound->Stop(), 1);
    ASSERT_EQ(sound->buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u);
    stoppedBefore = OutputSize() + kWriteLag;
    ASSERT_TRUE(WaitForOutput(stoppedBefore + length));
  });
  const auto at = std::search(out.begin(), out.end(), samples_.begin(), samples_.end());
  ASSERT_NE(at, out.end());
  const std::size_t start = at - out.begin();
  ASSERT_GE(out.size(), start + 3 * length);
  for (std::size_t pass = 1; pass < 3; ++pass) {
    EXPECT_TRUE(std::equal(samples_.begin(), samples_.end(), out.begin() + start + pass * length))
        << "repeat " << pass;
  }
  // Stop ends the loop at once: everything written after it is silent.
  ASSERT_GT(out.size(), stoppedBefore);
  EXPECT_TRUE(AllZero(out.begin() + stoppedBefore, out.end()));
}

TEST_F(DiskOutputTest, PlayFromAPositionStartsAtThatByte) {
  const Bytes wav = SoxNoise();
  constexpr int kStart = 4000;
  const Bytes out = Capture(wav, [](Sound* sound) {
    ASSERT_EQ(sound->Play(0, kStart), 1);
    EXPECT_TRUE(WaitUntilStopped(sound->buffer));
    // A position past the end is refused.
    EXPECT_EQ(sound->Play(0, sound->Length()), 0);
  });
  const auto at = std::search(out.begin(), out.end(), samples_.begin() + kStart, samples_.end());
  ASSERT_NE(at, out.end());
  EXPECT_TRUE(AllZero(out.begin(), at)) << "nothing before byte " << kStart << " is played";
  EXPECT_TRUE(AllZero(at + (samples_.size() - kStart), out.end()));
}

TEST_F(DiskOutputTest, PanAttenuatesTheOtherChannel) {
  const Bytes wav = SoxNoise();
  auto playPanned = [&](int pan) {
    return Capture(wav, [pan](Sound* sound) {
      ASSERT_EQ(sound->SetPan(pan), 1);
      ASSERT_EQ(sound->Play(0, 0), 1);
      EXPECT_TRUE(WaitUntilStopped(sound->buffer));
    });
  };
  const double sourceLeft = Energy(samples_, 0);
  const double sourceRight = Energy(samples_, 1);

  // Hard left: the left channel exactly as stored, the right one silent.
  const Bytes left = playPanned(DSBPAN_LEFT);
  EXPECT_DOUBLE_EQ(Energy(left, 0), sourceLeft);
  EXPECT_EQ(Energy(left, 1), 0.0);
  const Bytes right = playPanned(DSBPAN_RIGHT);
  EXPECT_EQ(Energy(right, 0), 0.0);
  EXPECT_DOUBLE_EQ(Energy(right, 1), sourceRight);

  // 6 dB to the right: the left channel keeps 10^(-6/10) of its energy.
  const Bytes panned = playPanned(600);
  EXPECT_DOUBLE_EQ(Energy(panned, 1), sourceRight);
  EXPECT_NEAR(Energy(panned, 0) / sourceLeft, std::pow(10.0, -0.6), 0.005);
}

TEST_F(DiskOutputTest, EightBitMonoIsConvertedToTheDeviceRate) {
  // 8-bit mono at 22,050 Hz: each source frame covers two output frames.
  Bytes samples(1000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i % 2 ? 20 + i % 200 : 240);
  const Bytes wav = test::BuildRiff("WAVE", {Chunk{"fmt ", test::PcmFormat(1, 22050, 8)}, Chunk{"data", samples}});
  const Bytes out = Capture(wav, [](Sound* sound) {
    EXPECT_EQ(sound->BytesPerSecond(), 22050);
    ASSERT_EQ(sound->Play(0, 0), 1);
    EXPECT_TRUE(WaitUntilStopped(sound->buffer));
  });
  const std::vector<std::int16_t> mixed = Samples(out);
  const auto first = std::find_if(mixed.begin(), mixed.end(), [](std::int16_t s) { return s != 0; });
  ASSERT_NE(first, mixed.end());
  const std::size_t start = first - mixed.begin();
  ASSERT_EQ(start % 2, 0u);
  ASSERT_GE(mixed.size(), start + 4 * samples.size());
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const int value = (samples[k] - 128) * 256;
    const std::size_t frame = start + 4 * k;  // two output frames of two channels
    ASSERT_EQ(mixed[frame], value) << "frame " << k;
    ASSERT_EQ(mixed[frame + 1], value) << "mono reaches both channels";
    if (k + 1 < samples.size()) {
      // The frame between lies between its neighbours.
      const int next = (samples[k + 1] - 128) * 256;
      ASSERT_NEAR(mixed[frame + 2], (value + next) / 2, 1) << "between frames " << k << " and " << k + 1;
    }
  }
  EXPECT_TRUE(std::all_of(mixed.begin() + start + 4 * samples.size(), mixed.end(),
                          [](std::int16_t s) { return s == 0; }));
}

// ---- The stand-in's own rules, on SDL's dummy driver ------------------------

struct ReleaseDirectSound {
  void operator()(IDirectSound* object) const { object->Release(); }
};
struct ReleaseBuffer {
  void operator()(IDirectSoundBuffer* object) const { object->Release(); }
};

class DirectSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IDirectSound* created = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &created, nullptr), DS_OK);
    directSound_.reset(created);
    format_ = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    description_ = {kDsBufferDescSize, 0xE0, 1000, 0, &format_};
  }

  HRESULT Create(IDirectSoundBuffer** buffer) { return directSound_->CreateSoundBuffer(&description_, buffer, nullptr); }

  test::ScopedEnv driver_{"SDL_AUDIODRIVER", "dummy"};
  std::unique_ptr<IDirectSound, ReleaseDirectSound> directSound_;
  WAVEFORMATEX format_{};
  DSBUFFERDESC description_{};
};

TEST_F(DirectSoundTest, OneDeviceAtATimeAndNoneWithoutADriver) {
  IDirectSound* second = nullptr;
  EXPECT_EQ(DirectSoundCreate(nullptr, &second, nullptr), DSERR_ALLOCATED);
  EXPECT_EQ(second, nullptr);
  directSound_.reset();
  {
    test::ScopedEnv broken("SDL_AUDIODRIVER", "no-such-driver");
    EXPECT_EQ(DirectSoundCreate(nullptr, &second, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(second, nullptr);
  }
  ASSERT_EQ(DirectSoundCreate(nullptr, &second, nullptr), DS_OK);
  second->Release();
}

TEST_F(DirectSoundTest, LockWrapsAroundTheEndThroughTheSecondRegion) {
  IDirectSoundBuffer* created = nullptr;
  EXPECT_EQ(Create(&created), DSERR_PRIOLEVELNEEDED) << "before SetCooperativeLevel";
  ASSERT_EQ(directSound_->SetCooperativeLevel(test::TestWindow(), DSSCL_EXCLUSIVE), DS_OK);
  // The 20-byte description of the 32-bit layout is accepted beside our own size.
  ASSERT_EQ(Create(&created), DS_OK);
  std::unique_ptr<IDirectSoundBuffer, ReleaseBuffer> buffer(created);

  void* region1 = nullptr;
  DWORD size1 = 0;
  void* region2 = nullptr;
  DWORD size2 = 0;
  ASSERT_EQ(buffer->Lock(0, 1000, &region1, &size1, &region2, &size2, 0), DS_OK);
  EXPECT_EQ(size1, 1000u);
  EXPECT_EQ(region2, nullptr);
  EXPECT_EQ(size2, 0u);
  // A new buffer holds silence.
  const auto* start = static_cast<const std::uint8_t*>(region1);
  EXPECT_TRUE(std::all_of(start, start + 1000, [](std::uint8_t b) { return b == 0; }));
  ASSERT_EQ(buffer->Unlock(region1, size1, region2, size2), DS_OK);

  ASSERT_EQ(buffer->Lock(900, 300, &region1, &size1, &region2, &size2, 0), DS_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(region1) - start, 900);
  EXPECT_EQ(size1, 100u);
  EXPECT_EQ(region2, start);
  EXPECT_EQ(size2, 200u);
  EXPECT_EQ(buffer->Unlock(region1, size1, region2, size2), DS_OK);
  EXPECT_EQ(buffer->Unlock(region1, size1 + 1, nullptr, 0), DSERR_INVALIDPARAM) << "past the end";
  int elsewhere = 0;
  EXPECT_EQ(buffer->Unlock(&elsewhere, 4, nullptr, 0), DSERR_INVALIDPARAM);

  EXPECT_EQ(buffer->Lock(1000, 10, &region1, &size1, &region2, &size2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->Lock(0, 1001, &region1, &size1, &region2, &size2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->SetCurrentPosition(1000), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->SetPan(DSBPAN_LEFT - 1), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->Play(1, 0, 0), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundTest, BufferOutlivingItsDeviceStaysUsable) {
  ASSERT_EQ(directSound_->SetCooperativeLevel(test::TestWindow(), DSSCL_EXCLUSIVE), DS_OK);
  IDirectSoundBuffer* buffer = nullptr;
  ASSERT_EQ(Create(&buffer), DS_OK);
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  directSound_.reset();
  EXPECT_EQ(buffer->Play(0, 0, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->Stop(), DS_OK);
  EXPECT_EQ(buffer->SetPan(0), DS_OK);
  EXPECT_EQ(buffer->Release(), 0u);
}

}  // namespace
}  // namespace kiv
