// A sound held whole in one DirectSound secondary buffer, as LoadWav makes it.
#pragma once

#include <cstdint>

#include "platform/dsound.h"

namespace kiv {

class ResourceManager;

// The operations that the rest of the program sees. Results are 1 for
// success and 0 for failure unless stated.
class SoundInterface {
 public:
  virtual ~SoundInterface() = default;
  virtual int BytesPerSecond() = 0;
  virtual int Length() = 0;
  virtual int SetPan(int pan) = 0;
  virtual int Play(int loop, int position) = 0;
  virtual int Stop() = 0;
  virtual void Destroy() = 0;
};

// Without a device (the silent Sound) every playback operation succeeds and
// does nothing. The Sound owns its buffer; the destructor leaves the buffer
// alone, Destroy stops and releases it and then frees the Sound.
class Sound : public SoundInterface {
 public:
  Sound() = default;
  Sound(const Sound&) = delete;
  Sound& operator=(const Sound&) = delete;

  // (channels * bits * rate) in 32-bit unsigned arithmetic, divided by 8.
  int BytesPerSecond() override;
  // Size in bytes of the sample data and of the buffer.
  int Length() override;
  // Hundredths of a decibel, -10000 (left) to 10000 (right).
  int SetPan(int pan) override;
  // From byte `position`, once, or over and over when `loop` is nonzero.
  int Play(int loop, int position) override;
  int Stop() override;
  void Destroy() override;

  ResourceManager* resources = nullptr;
  IDirectSound* device = nullptr;
  IDirectSoundBuffer* buffer = nullptr;
  std::int32_t rate = 0;
  std::int32_t bits = 0;
  std::int32_t channels = 0;
  std::int32_t length = 0;
};

}  // namespace kiv
