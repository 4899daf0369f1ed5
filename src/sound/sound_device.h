// The sound device: DirectSound in exclusive mode on the main window, and WAV
// files loaded whole into Sounds. While the device is disabled (never
// initialised, or its initialisation failed) LoadWav hands out one shared
// silent Sound, so that callers run unchanged without sound.
#pragma once

#include <cstdint>

#include "platform/dsound.h"
#include "platform/win32.h"
#include "sound/sound.h"

namespace kiv {

class ResourceManager;

class SoundDeviceInterface {
 public:
  virtual Sound* LoadWav(const char* name) = 0;
  virtual int Init() = 0;
  virtual void Release() = 0;
  virtual int NoOp(int value) = 0;

 protected:
  ~SoundDeviceInterface() = default;
};

class SoundDevice : public SoundDeviceInterface {
 public:
  explicit SoundDevice(ResourceManager* resourceManager);
  SoundDevice(const SoundDevice&) = delete;
  SoundDevice& operator=(const SoundDevice&) = delete;

  // Records the window that Init binds to (program-wide; the module is not
  // used). A null window makes Init fail.
  void SetWindow(HWND window, HINSTANCE module);

  // A new Sound (freed by its Destroy), the silent Sound while disabled, or
  // null when the file cannot be found, is not a usable WAV file or the
  // buffer cannot be made.
  Sound* LoadWav(const char* name) override;
  // 1 when the device opened and took the window in exclusive mode.
  int Init() override;
  // Releases the DirectSound object, if there is one.
  void Release() override;
  // Takes one value, does nothing, returns 1.
  int NoOp(int value) override;

  ResourceManager* resources;
  std::int32_t disabled = 1;
  DSBUFFERDESC* pendingDescription = nullptr;
  IDirectSoundBuffer* pendingBuffer = nullptr;
  IDirectSound* directSound = nullptr;
};

// The program-wide sound device, over TheResourceManager().
SoundDevice& TheSoundDevice();

// The shared silent Sound, created by the first LoadWav; null before.
Sound* SilentSound();

}  // namespace kiv
