#include "sound/sound_device.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

#include "resources/resource_manager.h"
#include "sound/direct_sound_mocks.h"
#include "sound/sound_fixture.h"
#include "sound/wav_fixture.h"

namespace kiv {
namespace {

using test::Bytes;
using test::BuildRiff;
using test::Chunk;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;

struct DestroySound {
  void operator()(Sound* sound) const { sound->Destroy(); }
};
using SoundPtr = std::unique_ptr<Sound, DestroySound>;

// Contents of a loaded Sound's buffer, read back through Lock.
Bytes BufferBytes(Sound* sound) {
  void* region1 = nullptr;
  DWORD size1 = 0;
  void* region2 = nullptr;
  DWORD size2 = 0;
  if (sound->buffer->Lock(0, static_cast<DWORD>(sound->length), &region1, &size1, &region2, &size2, 0) != DS_OK) {
    return {};
  }
  const auto* begin = static_cast<const std::uint8_t*>(region1);
  Bytes bytes(begin, begin + size1);
  sound->buffer->Unlock(region1, size1, region2, size2);
  return bytes;
}

// A device opened on SDL's dummy driver over a private resource manager; every
// file that a load opens must be closed again.
class LoadWavTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resources_.RegisterFileSystem(&files_);
    device_.SetWindow(test::TestWindow(), nullptr);
    ASSERT_EQ(device_.Init(), 1);
  }
  void TearDown() override {
    device_.Release();
    device_.SetWindow(nullptr, nullptr);
    EXPECT_EQ(files_.opened, files_.closed);
  }

  SoundPtr Load(const Bytes& file) {
    const std::string path = dir_.Path("sound" + std::to_string(++count_) + ".wav");
    test::WriteBytes(path, file);
    return SoundPtr(device_.LoadWav(path.c_str()));
  }

  // 0.05 s of noise, 16-bit stereo at 44,100 Hz, as sox writes it.
  std::vector<Chunk> SoxStereoChunks() {
    const std::string path = dir_.Path("stereo.wav");
    EXPECT_TRUE(test::Run("sox -n -r 44100 -b 16 -c 2 " + path + " synth 0.05 whitenoise"));
    return test::SplitChunks(test::ReadBytes(path));
  }

  test::ScopedEnv driver_{"SDL_AUDIODRIVER", "dummy"};
  test::TempDir dir_;
  test::TrackingFileSystem files_;
  ResourceManager resources_;
  SoundDevice device_{&resources_};
  int count_ = 0;
};

TEST_F(LoadWavTest, ToolMadeFilesLoadWithTheirFormatAndLength) {
  const std::string mono = dir_.Path("mono8.wav");
  ASSERT_TRUE(test::Run("sox -n -r 22050 -b 8 -c 1 " + mono + " synth 0.1 sine 440"));
  SoundPtr sound(device_.LoadWav(mono.c_str()));
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(sound->rate, 22050);
  EXPECT_EQ(sound->bits, 8);
  EXPECT_EQ(sound->channels, 1);
  EXPECT_EQ(sound->Length(), 2205);  // 0.1 s of one-byte frames
  EXPECT_EQ(sound->BytesPerSecond(), 22050);
  EXPECT_EQ(sound->device, device_.directSound);
  EXPECT_EQ(sound->resources, &resources_);

  const std::vector<Chunk> stereo = SoxStereoChunks();
  SoundPtr noise = Load(BuildRiff("WAVE", stereo));
  ASSERT_NE(noise, nullptr);
  EXPECT_EQ(noise->rate, 44100);
  EXPECT_EQ(noise->bits, 16);
  EXPECT_EQ(noise->channels, 2);
  EXPECT_EQ(noise->Length(), 8820);  // 2205 frames of four bytes
  EXPECT_EQ(noise->BytesPerSecond(), 176400);
  EXPECT_EQ(BufferBytes(noise.get()), test::ChunkPayload(stereo, "data"));

  const std::string speech = dir_.Path("speech.wav");
  ASSERT_TRUE(test::Run("espeak-ng -w " + speech + " 'sound check'"));
  const Bytes spoken = test::ChunkPayload(test::SplitChunks(test::ReadBytes(speech)), "data");
  ASSERT_FALSE(spoken.empty());
  SoundPtr voice(device_.LoadWav(speech.c_str()));
  ASSERT_NE(voice, nullptr);
  EXPECT_EQ(voice->channels, 1);
  EXPECT_EQ(voice->bits, 16);
  EXPECT_EQ(voice->Length(), static_cast<int>(spoken.size()));
  EXPECT_EQ(voice->BytesPerSecond(), voice->rate * 2);
  EXPECT_EQ(BufferBytes(voice.get()), spoken);
}

TEST_F(LoadWavTest, FiveOtherChunksBeforeDataLoadAndASixthFails) {
  const std::vector<Chunk> sox = SoxStereoChunks();
  const Chunk format = sox[0];
  const Chunk data = sox.back();
  ASSERT_EQ(format.tag, "fmt ");
  ASSERT_EQ(data.tag, "data");
  // An odd-sized LIST chunk is followed directly by the next chunk: no pad byte.
  const Chunk list{"LIST", {'I', 'N', 'F', 'O', 'x'}};
  const Chunk fact{"fact", {0x99, 0x08, 0x00, 0x00}};
  const Chunk empty{"junk", {}};

  std::vector<Chunk> five = {format, list, fact, list, empty, fact, data};
  SoundPtr loaded = Load(BuildRiff("WAVE", five));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->Length(), 8820);
  EXPECT_EQ(BufferBytes(loaded.get()), data.payload);

  std::vector<Chunk> six = {format, list, fact, list, empty, fact, list, data};
  EXPECT_EQ(Load(BuildRiff("WAVE", six)), nullptr);

  // A "fmt " chunk anywhere but right after "WAVE" is skipped like the others.
  const Chunk other{"fmt ", test::PcmFormat(1, 11025, 8)};
  SoundPtr first = Load(BuildRiff("WAVE", {format, other, data}));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->rate, 44100);
  EXPECT_EQ(first->channels, 2);
}

TEST_F(LoadWavTest, MalformedFilesFail) {
  const std::vector<Chunk> sox = SoxStereoChunks();
  const Chunk format = sox.front();
  const Chunk data = sox.back();
  const Chunk list{"LIST", {'I', 'N', 'F', 'O'}};

  EXPECT_EQ(Load(BuildRiff("WAVE", {list, format, data})), nullptr) << "chunk between WAVE and fmt";
  Bytes rifx = BuildRiff("WAVE", {format, data});
  rifx[3] = 'X';
  EXPECT_EQ(Load(rifx), nullptr) << "not RIFF";
  EXPECT_EQ(Load({}), nullptr) << "empty file";
  EXPECT_EQ(Load(BuildRiff("WAVE", {format})), nullptr) << "ends before data";
  EXPECT_EQ(Load(BuildRiff("WAVE", {format, list})), nullptr) << "ends after another chunk";
  EXPECT_EQ(Load(BuildRiff("WAVE", {format, Chunk{"data", {}}})), nullptr) << "no samples";
  EXPECT_EQ(Load(BuildRiff("WAVE", {Chunk{"fmt ", test::PcmFormat(2, 44100, 24)}, data})), nullptr)
      << "24-bit samples";
  Chunk huge = list;
  huge.overrideSize = true;
  huge.declaredSize = 0xFFFFFFF0u;
  EXPECT_EQ(Load(BuildRiff("WAVE", {format, huge, data})), nullptr) << "chunk size beyond any file";

  EXPECT_EQ(device_.LoadWav(dir_.Path("missing.wav").c_str()), nullptr);
  EXPECT_EQ(device_.LoadWav(nullptr), nullptr);
  EXPECT_EQ(device_.pendingDescription, nullptr);
  EXPECT_EQ(device_.pendingBuffer, nullptr);
}

TEST_F(LoadWavTest, LongFormatChunkFillsTheRecordAndSkipsTheRest) {
  const std::vector<Chunk> sox = SoxStereoChunks();
  Chunk format = sox.front();
  // cbSize 22 and 22 more bytes, as an extended format record carries.
  test::PutLe16(&format.payload, 22);
  for (int i = 0; i < 22; ++i) format.payload.push_back(0xEE);
  SoundPtr sound = Load(BuildRiff("WAVE", {format, sox.back()}));
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(sound->rate, 44100);
  EXPECT_EQ(sound->channels, 2);
  EXPECT_EQ(sound->bits, 16);
  EXPECT_EQ(BufferBytes(sound.get()), sox.back().payload);
}

TEST_F(LoadWavTest, DataBeforeAnyFormatIsRefused) {
  // The form type itself reads as the "data" tag: no format was ever seen.
  Bytes file = BuildRiff("data", {});
  test::PutLe32(&file, 64);
  file.resize(file.size() + 64, 0x11);
  EXPECT_EQ(Load(file), nullptr);
}

TEST_F(LoadWavTest, DataLengthBeyondTheFileIsClampedToWhatItHolds) {
  const std::vector<Chunk> sox = SoxStereoChunks();
  Chunk data = sox.back();
  data.payload.resize(4000);
  data.overrideSize = true;
  data.declaredSize = 8820;
  SoundPtr truncated = Load(BuildRiff("WAVE", {sox.front(), data}));
  ASSERT_NE(truncated, nullptr);
  EXPECT_EQ(truncated->Length(), 4000);
  EXPECT_EQ(BufferBytes(truncated.get()), data.payload);

  data.declaredSize = 0xFFFFFFF0u;  // a streaming writer's placeholder
  SoundPtr placeholder = Load(BuildRiff("WAVE", {sox.front(), data}));
  ASSERT_NE(placeholder, nullptr);
  EXPECT_EQ(placeholder->Length(), 4000);
}

TEST(SoundDeviceTest, DisabledDeviceHandsOutTheSilentSound) {
  ResourceManager resources;
  test::TrackingFileSystem files;
  resources.RegisterFileSystem(&files);
  SoundDevice device(&resources);
  EXPECT_EQ(device.NoOp(12345), 1);

  // Never initialised: any name, even a missing one, gives the silent Sound.
  Sound* silent = device.LoadWav("/nonexistent/a.wav");
  ASSERT_NE(silent, nullptr);
  EXPECT_EQ(silent, SilentSound());
  EXPECT_EQ(device.LoadWav(nullptr), silent);
  EXPECT_EQ(files.opened, 0);
  EXPECT_EQ(silent->Play(1, 0), 1);
  EXPECT_EQ(silent->Play(0, 1000), 1);
  EXPECT_EQ(silent->SetPan(-10000), 1);
  EXPECT_EQ(silent->Stop(), 1);
  EXPECT_EQ(silent->Length(), 0);
  EXPECT_EQ(silent->BytesPerSecond(), 0);
  silent->Destroy();
  EXPECT_EQ(device.LoadWav("b.wav"), silent);
  EXPECT_EQ(silent->Length(), 0);

  // Its device is cleared again on every load.
  silent->device = reinterpret_cast<IDirectSound*>(silent);
  EXPECT_EQ(device.LoadWav("c.wav"), silent);
  EXPECT_EQ(silent->device, nullptr);

  // Without a window Init fails and leaves the device disabled.
  device.SetWindow(nullptr, nullptr);
  EXPECT_EQ(device.Init(), 0);
  EXPECT_NE(device.disabled, 0);
  EXPECT_EQ(device.directSound, nullptr);

  // No audio device that opens: disabled as well.
  {
    test::ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    device.SetWindow(test::TestWindow(), nullptr);
    EXPECT_EQ(device.Init(), 0);
    EXPECT_NE(device.disabled, 0);
    EXPECT_EQ(device.directSound, nullptr);
    EXPECT_EQ(device.LoadWav("d.wav"), silent);
  }

  // After Release the device is disabled again and never reaches the
  // released object.
  test::ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
  ASSERT_EQ(device.Init(), 1);
  EXPECT_EQ(device.disabled, 0);
  device.Release();
  EXPECT_EQ(device.directSound, nullptr);
  EXPECT_EQ(device.LoadWav("e.wav"), silent);
  device.Release();
  device.SetWindow(nullptr, nullptr);
}

// ---- The calls that a load makes, observed on test doubles -----------------

using test::MockBuffer;
using test::MockDirectSound;

class LoadWavCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resources_.RegisterFileSystem(&files_);
    device_.directSound = &directSound_;
    device_.disabled = 0;
    // 8-bit stereo at 11,025 Hz, with an 18-byte format record whose cbSize is 7.
    Bytes format = test::PcmFormat(2, 11025, 8);
    test::PutLe16(&format, 7);
    samples_.resize(1000);
    for (std::size_t i = 0; i < samples_.size(); ++i) samples_[i] = static_cast<std::uint8_t>(i * 7 + 1);
    test::WriteBytes(path_, BuildRiff("WAVE", {Chunk{"fmt ", format}, Chunk{"data", samples_}}));
  }
  void TearDown() override { EXPECT_EQ(files_.opened, files_.closed); }

  // The whole buffer in one region, handed out over stale memory.
  void ExpectLockAndUnlock() {
    EXPECT_CALL(buffer_, Lock(0, 1000, _, _, _, _, 0))
        .WillOnce(DoAll(SetArgPointee<2>(region_.data()), SetArgPointee<3>(1000), SetArgPointee<4>(nullptr),
                        SetArgPointee<5>(0), Return(DS_OK)));
    EXPECT_CALL(buffer_, Unlock(region_.data(), 1000, nullptr, 0)).WillOnce(Return(DS_OK));
  }

  test::TempDir dir_;
  const std::string path_ = dir_.Path("calls.wav");
  test::TrackingFileSystem files_;
  ResourceManager resources_;
  SoundDevice device_{&resources_};
  ::testing::StrictMock<MockDirectSound> directSound_;
  ::testing::StrictMock<MockBuffer> buffer_;
  Bytes samples_;
  Bytes region_ = Bytes(1000, 0xAA);  // stale memory in the locked buffer
};

TEST_F(LoadWavCallsTest, DescribesTheBufferAndFillsItThroughOneLock) {
  DSBUFFERDESC seen{};
  WAVEFORMATEX seenFormat{};
  EXPECT_CALL(directSound_, CreateSoundBuffer(_, _, nullptr))
      .WillOnce([&](const DSBUFFERDESC* description, IDirectSoundBuffer** buffer, void*) {
        seen = *description;
        std::memcpy(&seenFormat, description->lpwfxFormat, sizeof(seenFormat));
        *buffer = &buffer_;
        return DS_OK;
      });
  ExpectLockAndUnlock();

  SoundPtr sound(device_.LoadWav(path_.c_str()));
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(seen.dwSize, 20u);
  EXPECT_EQ(seen.dwFlags, 0xE0u);
  EXPECT_EQ(seen.dwBufferBytes, 1000u);
  EXPECT_EQ(seen.dwReserved, 0u);
  EXPECT_EQ(seenFormat.wFormatTag, 1);
  EXPECT_EQ(seenFormat.nChannels, 2);
  EXPECT_EQ(seenFormat.nSamplesPerSec, 11025u);
  EXPECT_EQ(seenFormat.nBlockAlign, 2);
  EXPECT_EQ(seenFormat.wBitsPerSample, 8);
  EXPECT_EQ(seenFormat.cbSize, 0);
  EXPECT_EQ(region_, samples_);
  EXPECT_EQ(sound->buffer, &buffer_);
  EXPECT_EQ(sound->device, &directSound_);
  EXPECT_EQ(sound->BytesPerSecond(), 22050);
  EXPECT_EQ(device_.pendingBuffer, nullptr);
  EXPECT_EQ(device_.pendingDescription, nullptr);

  ::testing::InSequence order;
  EXPECT_CALL(buffer_, Stop()).WillOnce(Return(DS_OK));
  EXPECT_CALL(buffer_, Release()).WillOnce(Return(0));
}

TEST_F(LoadWavCallsTest, ShortReadIsPaddedWithSilence) {
  files_.readLimit = 600;
  EXPECT_CALL(directSound_, CreateSoundBuffer(_, _, nullptr))
      .WillOnce(DoAll(SetArgPointee<1>(&buffer_), Return(DS_OK)));
  ExpectLockAndUnlock();
  SoundPtr sound(device_.LoadWav(path_.c_str()));
  ASSERT_NE(sound, nullptr);
  EXPECT_TRUE(std::equal(samples_.begin(), samples_.begin() + 600, region_.begin()));
  // Unsigned 8-bit silence is 0x80.
  EXPECT_EQ(Bytes(region_.begin() + 600, region_.end()), Bytes(400, 0x80));
  EXPECT_CALL(buffer_, Stop()).WillOnce(Return(DS_OK));
  EXPECT_CALL(buffer_, Release()).WillOnce(Return(0));
}

TEST_F(LoadWavCallsTest, FailuresReleaseWhatTheLoadAcquired) {
  // CreateSoundBuffer fails: no buffer to release.
  EXPECT_CALL(directSound_, CreateSoundBuffer(_, _, nullptr)).WillOnce(Return(DSERR_OUTOFMEMORY));
  EXPECT_EQ(device_.LoadWav(path_.c_str()), nullptr);
  EXPECT_EQ(device_.pendingDescription, nullptr);
  ::testing::Mock::VerifyAndClearExpectations(&directSound_);

  // Lock fails: the new buffer is released once, nothing is read into it.
  EXPECT_CALL(directSound_, CreateSoundBuffer(_, _, nullptr))
      .WillOnce(DoAll(SetArgPointee<1>(&buffer_), Return(DS_OK)));
  EXPECT_CALL(buffer_, Lock(0, 1000, _, _, _, _, 0)).WillOnce(Return(DSERR_INVALIDPARAM));
  EXPECT_CALL(buffer_, Release()).WillOnce(Return(0));
  EXPECT_EQ(device_.LoadWav(path_.c_str()), nullptr);
  EXPECT_EQ(device_.pendingBuffer, nullptr);
  EXPECT_EQ(device_.pendingDescription, nullptr);
  EXPECT_EQ(files_.opened, 4);  // two lookups and two loads, each closed again
}

}  // namespace
}  // namespace kiv
