#include "sound/sound_device.h"

#include <cstring>
#include <memory>
#include <new>

#include "resources/resource_manager.h"

namespace kiv {

namespace {

// The window that Init binds to; program-wide, like the device itself.
HWND g_window = nullptr;

// Handed out while the device is disabled; lives until the program ends.
std::unique_ptr<Sound> g_silentSound;

// The fifth skipped chunk is still accepted, the sixth fails the load (a
// file that ends early fails here too: reads past the end leave the last tag
// and size in place).
constexpr int kMaxSkippedChunks = 5;

constexpr int kSeekFromStart = 0;
constexpr int kSeekFromCurrent = 1;
constexpr int kSeekFromEnd = 2;

constexpr DWORD kSoundBufferFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;  // 0xE0

bool TagIs(const std::uint8_t* tag, const char* name) { return std::memcmp(tag, name, 4) == 0; }

// Walks the RIFF chunks up to the data chunk, reading the format record on
// the way: false when there is no format record, a chunk is out of place or
// too many are skipped. dataBytes is cut to what the file still holds.
bool FindWavData(FileSystem* fileSystem, FileHandle* file, WAVEFORMATEX* format, std::uint32_t* dataBytes) {
  auto skip = [&](std::uint32_t bytes) {
    // A size beyond a signed 32-bit seek cannot lie inside a real file.
    if (bytes > 0x7FFFFFFFu) return false;
    fileSystem->Seek(file, static_cast<std::int32_t>(bytes), kSeekFromCurrent);
    return true;
  };

  // Reads that come up short leave the previous bytes in place.
  std::uint8_t tag[4] = {};
  std::uint8_t size[4] = {};
  fileSystem->Read(tag, 4, 1, file);
  if (!TagIs(tag, "RIFF")) return false;
  fileSystem->Read(size, 4, 1, file);

  bool haveFormat = false;
  int skipped = 0;
  for (;;) {
    fileSystem->Read(tag, 4, 1, file);
    if (TagIs(tag, "WAVE")) {
      // The format chunk must come first in the form.
      fileSystem->Read(tag, 4, 1, file);
      if (!TagIs(tag, "fmt ")) return false;
      fileSystem->Read(size, 4, 1, file);
      const std::uint32_t chunkBytes = LoadLe32(size);
      // A longer chunk (an extended format) fills the record and the rest is skipped.
      const std::uint32_t take = chunkBytes < sizeof(*format) ? chunkBytes : sizeof(*format);
      fileSystem->Read(format, 1, take, file);
      if (!skip(chunkBytes - take)) return false;
      haveFormat = true;
      continue;
    }
    if (TagIs(tag, "data")) {
      fileSystem->Read(size, 4, 1, file);
      *dataBytes = LoadLe32(size);
      break;
    }
    fileSystem->Read(size, 4, 1, file);
    if (!skip(LoadLe32(size))) return false;
    if (++skipped > kMaxSkippedChunks) return false;
  }
  // Without a format record there is nothing to describe the samples with.
  if (!haveFormat) return false;

  // Never allocate more than the file still holds.
  const std::int32_t here = fileSystem->Tell(file);
  fileSystem->Seek(file, 0, kSeekFromEnd);
  const std::int32_t end = fileSystem->Tell(file);
  fileSystem->Seek(file, here, kSeekFromStart);
  if (here < 0 || end < 0) return false;
  const std::uint32_t available = end > here ? static_cast<std::uint32_t>(end - here) : 0;
  if (*dataBytes > available) *dataBytes = available;
  return true;
}

}  // namespace

SoundDevice::SoundDevice(ResourceManager* resourceManager) : resources(resourceManager) {}

void SoundDevice::SetWindow(HWND window, HINSTANCE /*module*/) { g_window = window; }

int SoundDevice::Init() {
  // A device left over from an earlier Init would keep the audio device open.
  if (directSound != nullptr) directSound->Release();
  disabled = 1;
  directSound = nullptr;
  if (g_window == nullptr) return 0;
  if (DirectSoundCreate(nullptr, &directSound, nullptr) != DS_OK) {
    directSound = nullptr;
    return 0;
  }
  if (directSound->SetCooperativeLevel(g_window, DSSCL_EXCLUSIVE) != DS_OK) {
    directSound->Release();
    directSound = nullptr;
    return 0;
  }
  disabled = 0;
  return 1;
}

void SoundDevice::Release() {
  if (directSound == nullptr) return;
  directSound->Release();
  // Forgotten at once: a later LoadWav must not reach the released object.
  directSound = nullptr;
  disabled = 1;
}

int SoundDevice::NoOp(int /*value*/) { return 1; }

Sound* SoundDevice::LoadWav(const char* name) {
  if (g_silentSound == nullptr) g_silentSound = std::make_unique<Sound>();
  g_silentSound->device = nullptr;
  if (disabled != 0) return g_silentSound.get();

  FileSystem* fileSystem = resources->FindFileSystem(name);
  if (fileSystem == nullptr) return nullptr;
  FileHandle* file = fileSystem->Open(name, "rb");
  if (file == nullptr) return nullptr;

  Sound* sound = nullptr;
  auto fail = [&]() -> Sound* {
    if (pendingBuffer != nullptr) pendingBuffer->Release();
    pendingBuffer = nullptr;
    delete pendingDescription;
    pendingDescription = nullptr;
    delete sound;  // the destructor leaves the buffer alone
    fileSystem->Close(file);
    return nullptr;
  };
  WAVEFORMATEX format{};
  std::uint32_t dataBytes = 0;
  if (!FindWavData(fileSystem, file, &format, &dataBytes)) return fail();

  sound = new (std::nothrow) Sound;
  if (sound == nullptr) return fail();
  sound->resources = resources;
  sound->rate = static_cast<std::int32_t>(format.nSamplesPerSec);
  sound->channels = format.nChannels;
  sound->bits = format.wBitsPerSample;
  sound->length = static_cast<std::int32_t>(dataBytes);
  sound->device = directSound;

  pendingDescription = new (std::nothrow) DSBUFFERDESC{};
  if (pendingDescription == nullptr) return fail();
  format.cbSize = 0;
  pendingDescription->dwSize = kDsBufferDescSize;
  pendingDescription->dwFlags = kSoundBufferFlags;
  pendingDescription->dwBufferBytes = dataBytes;
  pendingDescription->dwReserved = 0;
  pendingDescription->lpwfxFormat = &format;
  if (directSound->CreateSoundBuffer(pendingDescription, &pendingBuffer, nullptr) != DS_OK) {
    pendingBuffer = nullptr;
    return fail();
  }

  void* region1 = nullptr;
  DWORD size1 = 0;
  void* region2 = nullptr;
  DWORD size2 = 0;
  if (pendingBuffer->Lock(0, dataBytes, &region1, &size1, &region2, &size2, 0) != DS_OK) return fail();
  const std::size_t got = fileSystem->Read(region1, 1, size1, file);
  if (got < size1) {
    // Whatever the file did not deliver plays as silence.
    std::memset(static_cast<std::uint8_t*>(region1) + got, format.wBitsPerSample == 8 ? 0x80 : 0x00,
                size1 - got);
  }
  pendingBuffer->Unlock(region1, size1, region2, size2);

  fileSystem->Close(file);
  sound->buffer = pendingBuffer;
  pendingBuffer = nullptr;
  delete pendingDescription;
  pendingDescription = nullptr;
  return sound;
}

SoundDevice& TheSoundDevice() {
  static SoundDevice device(&TheResourceManager());
  return device;
}

Sound* SilentSound() { return g_silentSound.get(); }

}  // namespace kiv
