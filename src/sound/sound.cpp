#include "sound/sound.h"

namespace kiv {

int Sound::BytesPerSecond() {
  const std::uint32_t product =
      static_cast<std::uint32_t>(channels) * static_cast<std::uint32_t>(bits) * static_cast<std::uint32_t>(rate);
  return static_cast<int>(product >> 3);
}

int Sound::Length() { return length; }

int Sound::SetPan(int pan) {
  if (device == nullptr) return 1;
  if (buffer == nullptr) return 0;
  return buffer->SetPan(pan) == DS_OK ? 1 : 0;
}

int Sound::Play(int loop, int position) {
  if (device == nullptr) return 1;
  if (buffer == nullptr) return 0;
  if (buffer->SetCurrentPosition(static_cast<DWORD>(position)) != DS_OK) return 0;
  return buffer->Play(0, 0, loop != 0 ? DSBPLAY_LOOPING : 0) == DS_OK ? 1 : 0;
}

int Sound::Stop() {
  if (device == nullptr) return 1;
  if (buffer == nullptr) return 0;
  return buffer->Stop() == DS_OK ? 1 : 0;
}

void Sound::Destroy() {
  // The silent Sound has no device and lives until the program ends.
  if (device == nullptr) return;
  Stop();
  if (buffer != nullptr) buffer->Release();
  buffer = nullptr;
  delete this;
}

}  // namespace kiv
