// Feeds arbitrary bytes to the WAV loader as a file on disk, through the
// program's own file system and sound device (SDL's dummy audio driver, so
// that no sound card is needed), then plays and stops what loaded.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "resources/file_system.h"
#include "resources/resource_manager.h"
#include "sound/sound.h"
#include "sound/sound_device.h"

namespace {

struct Harness {
  kiv::StdioFileSystem files;
  kiv::ResourceManager resources;
  kiv::SoundDevice device{&resources};
  std::string path;

  Harness() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    resources.RegisterFileSystem(&files);
    // The device only records the window it binds to; any handle will do.
    device.SetWindow(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(1)), nullptr);
    if (device.Init() == 0) {
      std::fprintf(stderr, "wav_fuzz: no sound device (SDL's dummy audio driver)\n");
      std::abort();
    }
    const char* temp = std::getenv("TMPDIR");
    path = std::string(temp != nullptr ? temp : "/tmp") + "/wav_fuzz_" + std::to_string(getpid()) + ".wav";
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness* harness = new Harness();
  std::FILE* file = std::fopen(harness->path.c_str(), "wb");
  if (file == nullptr) std::abort();
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) std::abort();

  kiv::Sound* sound = harness->device.LoadWav(harness->path.c_str());
  if (sound != nullptr) {
    // What loaded must describe a buffer the device can play from any point.
    if (sound->Length() < 0) __builtin_trap();
    sound->SetPan(-2500);
    sound->Play(1, sound->Length() / 2);
    sound->Stop();
    sound->Destroy();
  }
  return 0;
}
