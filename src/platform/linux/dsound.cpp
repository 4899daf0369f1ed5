// DirectSound over SDL audio. One SDL output stream (44,100 Hz, 16-bit signed
// stereo) is opened by DirectSoundCreate; each secondary buffer keeps its
// samples in their own PCM format and is converted, resampled and panned while
// the SDL audio callback mixes it. State that the callback reads is changed
// only under SDL_LockAudio.
#include "platform/dsound.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int kDeviceChannels = 2;
// Frames per callback, about 93 ms. SDL's audio thread wakes once a period
// for as long as the device is open, with nothing playing too, and the device
// stays open while the player runs, paused or not: 4096 frames make that about
// 11 wake-ups a second instead of 43 at 1024. The mix does not depend on the
// period; only a sound's start may come up to one period after Play. (Closing
// the device while no buffer plays would save those wake-ups too, but would
// also stop the stream of silence that an open device writes.)
constexpr int kDeviceSamples = 4096;

class SoundBuffer;

// The mixer state shared by the device object and its buffers. Buffers keep
// it alive, so that a buffer outliving its device stays a valid object.
struct MixerCore {
  bool open = false;  // the SDL device is open and the callback may run
  std::vector<SoundBuffer*> buffers;
  std::vector<std::int32_t> accumulator;
};

// Locks out the audio callback while the device is open.
class AudioGuard {
 public:
  explicit AudioGuard(const MixerCore& core) : locked_(core.open) {
    if (locked_) SDL_LockAudio();
  }
  ~AudioGuard() {
    if (locked_) SDL_UnlockAudio();
  }
  AudioGuard(const AudioGuard&) = delete;
  AudioGuard& operator=(const AudioGuard&) = delete;

 private:
  bool locked_;
};

// Q16 gain for an attenuation in hundredths of a decibel; 10000 is silence.
std::int32_t GainForAttenuation(LONG hundredths) {
  if (hundredths <= 0) return 1 << 16;
  if (hundredths >= DSBPAN_RIGHT) return 0;
  const double gain = std::pow(10.0, -static_cast<double>(hundredths) / 2000.0);
  return static_cast<std::int32_t>(std::lround(gain * 65536.0));
}

std::int32_t ApplyGain(std::int32_t sample, std::int32_t gain) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(sample) * gain + 0x8000) >> 16);
}

bool IsSupportedFormat(const WAVEFORMATEX& format) {
  if (format.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (format.nChannels != 1 && format.nChannels != 2) return false;
  if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) return false;
  if (format.nSamplesPerSec < DSBFREQUENCY_MIN || format.nSamplesPerSec > DSBFREQUENCY_MAX) return false;
  return format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

class SoundBuffer final : public IDirectSoundBuffer {
 public:
  SoundBuffer(std::shared_ptr<MixerCore> core, const WAVEFORMATEX& format, std::uint8_t* data, DWORD size)
      : core_(std::move(core)), data_(data), size_(size), channels_(format.nChannels),
        bits_(format.wBitsPerSample), blockAlign_(format.nBlockAlign), frames_(size / format.nBlockAlign),
        step_((static_cast<std::uint64_t>(format.nSamplesPerSec) << 32) / kDeviceRate) {
    // A new buffer holds silence rather than whatever the memory held.
    std::memset(data_.get(), bits_ == 8 ? 0x80 : 0x00, size_);
  }

  unsigned long AddRef() override { return ++references_; }

  unsigned long Release() override {
    const unsigned long left = --references_;
    if (left == 0) {
      {
        AudioGuard guard(*core_);
        auto& list = core_->buffers;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
      }
      delete this;
    }
    return left;
  }

  HRESULT GetStatus(DWORD* status) override {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    AudioGuard guard(*core_);
    *status = (playing_ ? DSBSTATUS_PLAYING : 0) | (playing_ && looping_ ? DSBSTATUS_LOOPING : 0);
    return DS_OK;
  }

  HRESULT Lock(DWORD offset, DWORD bytes, void** audio1, DWORD* bytes1, void** audio2, DWORD* bytes2,
               DWORD flags) override {
    if (audio1 == nullptr || bytes1 == nullptr) return DSERR_INVALIDPARAM;
    if (flags & DSBLOCK_FROMWRITECURSOR) {
      AudioGuard guard(*core_);
      offset = static_cast<DWORD>(frame_ * blockAlign_);
    }
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = size_;
    if (offset >= size_ || bytes == 0 || bytes > size_) return DSERR_INVALIDPARAM;
    const DWORD first = std::min(bytes, size_ - offset);
    *audio1 = data_.get() + offset;
    *bytes1 = first;
    // The part past the end wraps to the start, through the second region.
    const DWORD second = bytes - first;
    if (audio2 != nullptr) *audio2 = second != 0 ? data_.get() : nullptr;
    if (bytes2 != nullptr) *bytes2 = audio2 != nullptr ? second : 0;
    return DS_OK;
  }

  HRESULT Unlock(void* audio1, DWORD bytes1, void* audio2, DWORD bytes2) override {
    if (!InsideBuffer(audio1, bytes1)) return DSERR_INVALIDPARAM;
    if (audio2 != nullptr && !InsideBuffer(audio2, bytes2)) return DSERR_INVALIDPARAM;
    return DS_OK;
  }

  HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override {
    if (reserved1 != 0 || priority != 0) return DSERR_INVALIDPARAM;
    if (!core_->open) return DSERR_BUFFERLOST;
    AudioGuard guard(*core_);
    playing_ = true;
    looping_ = (flags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
  }

  HRESULT SetCurrentPosition(DWORD position) override {
    if (position >= size_) return DSERR_INVALIDPARAM;
    AudioGuard guard(*core_);
    frame_ = position / blockAlign_;
    fraction_ = 0;
    return DS_OK;
  }

  HRESULT SetPan(LONG pan) override {
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    // A pan to one side attenuates the other channel by |pan| / 100 dB.
    const std::int32_t left = GainForAttenuation(pan);
    const std::int32_t right = GainForAttenuation(-pan);
    AudioGuard guard(*core_);
    gainLeft_ = left;
    gainRight_ = right;
    return DS_OK;
  }

  HRESULT Stop() override {
    AudioGuard guard(*core_);
    playing_ = false;
    return DS_OK;
  }

  // Adds this buffer's next output frames into the stereo accumulator. Runs
  // in the audio callback with the audio lock held.
  void MixInto(std::int32_t* out, int frameCount) {
    if (!playing_) return;
    if (frames_ == 0) {
      playing_ = false;
      return;
    }
    for (int i = 0; i < frameCount; ++i) {
      if (frame_ >= frames_) {
        if (!looping_) {
          // Played out: stop and rewind, so that the next Play starts over.
          playing_ = false;
          frame_ = 0;
          fraction_ = 0;
          return;
        }
        frame_ %= frames_;
      }
      std::int32_t left;
      std::int32_t right;
      ReadFrame(frame_, &left, &right);
      if (fraction_ != 0) {
        // Linear interpolation towards the next frame (the start again when
        // looping, the same frame at the very end).
        std::uint64_t next = frame_ + 1;
        if (next >= frames_) next = looping_ ? 0 : frame_;
        std::int32_t nextLeft;
        std::int32_t nextRight;
        ReadFrame(next, &nextLeft, &nextRight);
        left += static_cast<std::int32_t>((static_cast<std::int64_t>(nextLeft - left) * fraction_) >> 32);
        right += static_cast<std::int32_t>((static_cast<std::int64_t>(nextRight - right) * fraction_) >> 32);
      }
      out[2 * i] += ApplyGain(left, gainLeft_);
      out[2 * i + 1] += ApplyGain(right, gainRight_);
      const std::uint64_t advanced = fraction_ + step_;
      frame_ += advanced >> 32;
      fraction_ = static_cast<std::uint32_t>(advanced);
    }
  }

 private:
  ~SoundBuffer() override = default;

  bool InsideBuffer(const void* pointer, DWORD bytes) const {
    const auto* p = static_cast<const std::uint8_t*>(pointer);
    const std::uint8_t* begin = data_.get();
    if (p < begin || p > begin + size_) return false;
    return bytes <= static_cast<DWORD>(begin + size_ - p);
  }

  // One frame as 16-bit signed left and right values.
  void ReadFrame(std::uint64_t frame, std::int32_t* left, std::int32_t* right) const {
    const std::uint8_t* p = data_.get() + frame * blockAlign_;
    if (bits_ == 8) {
      *left = (static_cast<std::int32_t>(p[0]) - 128) * 256;
      *right = channels_ == 2 ? (static_cast<std::int32_t>(p[1]) - 128) * 256 : *left;
    } else {
      *left = static_cast<std::int16_t>(p[0] | (p[1] << 8));
      *right = channels_ == 2 ? static_cast<std::int16_t>(p[2] | (p[3] << 8)) : *left;
    }
  }

  std::shared_ptr<MixerCore> core_;
  std::unique_ptr<std::uint8_t[]> data_;
  const DWORD size_;
  const int channels_;
  const int bits_;
  const DWORD blockAlign_;
  const std::uint64_t frames_;
  const std::uint64_t step_;  // source frames per output frame, 32.32 fixed point
  unsigned long references_ = 1;

  // Shared with the audio callback.
  bool playing_ = false;
  bool looping_ = false;
  std::uint64_t frame_ = 0;
  std::uint32_t fraction_ = 0;
  std::int32_t gainLeft_ = 1 << 16;
  std::int32_t gainRight_ = 1 << 16;
};

void MixCallback(void* userdata, Uint8* stream, int length) {
  // Silence first, so that nothing stale reaches the device.
  std::memset(stream, 0, static_cast<std::size_t>(length));
  auto* core = static_cast<MixerCore*>(userdata);
  if (core->buffers.empty()) return;
  const int frameCount = length / (kDeviceChannels * 2);
  auto& mix = core->accumulator;
  if (mix.size() < static_cast<std::size_t>(frameCount) * kDeviceChannels) {
    mix.resize(static_cast<std::size_t>(frameCount) * kDeviceChannels);
  }
  std::fill(mix.begin(), mix.begin() + frameCount * kDeviceChannels, 0);
  for (SoundBuffer* buffer : core->buffers) buffer->MixInto(mix.data(), frameCount);
  // Sounds that add up past the 16-bit range saturate.
  auto* out = reinterpret_cast<std::int16_t*>(stream);
  for (int i = 0; i < frameCount * kDeviceChannels; ++i) {
    out[i] = static_cast<std::int16_t>(std::clamp(mix[i], -32768, 32767));
  }
}

class DirectSound final : public IDirectSound {
 public:
  explicit DirectSound(std::shared_ptr<MixerCore> core) : core_(std::move(core)) {}

  unsigned long AddRef() override { return ++references_; }

  unsigned long Release() override {
    const unsigned long left = --references_;
    if (left == 0) {
      // SDL_Quit may have closed audio already (the display shuts down first).
      if (core_->open && SDL_WasInit(SDL_INIT_AUDIO) != 0) {
        SDL_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
      }
      core_->open = false;
      delete this;
    }
    return left;
  }

  HRESULT CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer** buffer,
                            void* outer) override {
    if (buffer == nullptr) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer != nullptr) return DSERR_NOAGGREGATION;
    if (description == nullptr) return DSERR_INVALIDPARAM;
    if (description->dwSize != kDsBufferDescSize && description->dwSize != sizeof(DSBUFFERDESC)) {
      return DSERR_INVALIDPARAM;
    }
    if (cooperativeLevel_ == 0) return DSERR_PRIOLEVELNEEDED;
    // Only secondary buffers are mixed here; nothing writes the primary one.
    if (description->dwFlags & DSBCAPS_PRIMARYBUFFER) return DSERR_UNSUPPORTED;
    if (description->dwFlags & DSBCAPS_CTRL3D) return DSERR_CONTROLUNAVAIL;
    const WAVEFORMATEX* format = description->lpwfxFormat;
    if (format == nullptr) return DSERR_INVALIDPARAM;
    const DWORD size = description->dwBufferBytes;
    if (size < DSBSIZE_MIN || size > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
    if (!IsSupportedFormat(*format)) return DSERR_BADFORMAT;
    auto* data = new (std::nothrow) std::uint8_t[size];
    if (data == nullptr) return DSERR_OUTOFMEMORY;
    auto* created = new (std::nothrow) SoundBuffer(core_, *format, data, size);
    if (created == nullptr) {
      delete[] data;
      return DSERR_OUTOFMEMORY;
    }
    {
      AudioGuard guard(*core_);
      core_->buffers.push_back(created);
    }
    *buffer = created;
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
    if (window == nullptr) return DSERR_INVALIDPARAM;
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    cooperativeLevel_ = level;
    return DS_OK;
  }

 private:
  ~DirectSound() override = default;

  std::shared_ptr<MixerCore> core_;
  unsigned long references_ = 1;
  DWORD cooperativeLevel_ = 0;
};

}  // namespace

HRESULT DirectSoundCreate(GUID* device, IDirectSound** directSound, void* outer) {
  if (directSound == nullptr) return DSERR_INVALIDPARAM;
  *directSound = nullptr;
  if (outer != nullptr) return DSERR_NOAGGREGATION;
  if (device != nullptr) return DSERR_NODRIVER;  // only the default device exists
  if (SDL_WasInit(SDL_INIT_AUDIO) != 0 && SDL_GetAudioStatus() != SDL_AUDIO_STOPPED) {
    return DSERR_ALLOCATED;
  }
  auto core = std::make_shared<MixerCore>();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return DSERR_NODRIVER;
  SDL_AudioSpec wanted{};
  wanted.freq = kDeviceRate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = kDeviceChannels;
  wanted.samples = kDeviceSamples;
  wanted.callback = MixCallback;
  wanted.userdata = core.get();
  // No "obtained" spec: SDL converts to whatever the hardware takes.
  if (SDL_OpenAudio(&wanted, nullptr) != 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return DSERR_NODRIVER;
  }
  core->accumulator.resize(static_cast<std::size_t>(kDeviceSamples) * kDeviceChannels);
  core->open = true;
  auto* created = new (std::nothrow) DirectSound(core);
  if (created == nullptr) {
    SDL_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return DSERR_OUTOFMEMORY;
  }
  SDL_PauseAudio(0);
  *directSound = created;
  return DS_OK;
}
