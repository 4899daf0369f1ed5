// The DirectSound interfaces that the sound device calls, served by SDL audio:
// one output stream at 44,100 Hz, 16-bit signed stereo, into which every
// playing secondary buffer is converted and mixed in SDL's audio callback.
#pragma once

#include <cstdint>

#include "platform/win32.h"

using HRESULT = long;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using LPGUID = GUID*;

// The format record of a WAV file's "fmt " chunk: 18 bytes, no padding.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr WORD WAVE_FORMAT_PCM = 1;

// The buffer description without the 3-D algorithm field. Its size field says
// 20 (the 32-bit layout); on 64-bit targets the pointer makes the struct
// larger, and CreateSoundBuffer accepts either size.
struct DSBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  WAVEFORMATEX* lpwfxFormat;
};
constexpr DWORD kDsBufferDescSize = 20;

// ---- Results -------------------------------------------------------------------
constexpr HRESULT MakeResult(std::uint32_t code) { return static_cast<std::int32_t>(code); }

constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_ALLOCATED = MakeResult(0x8878000Au);
constexpr HRESULT DSERR_CONTROLUNAVAIL = MakeResult(0x8878001Eu);
constexpr HRESULT DSERR_INVALIDCALL = MakeResult(0x88780032u);
constexpr HRESULT DSERR_PRIOLEVELNEEDED = MakeResult(0x88780046u);
constexpr HRESULT DSERR_BADFORMAT = MakeResult(0x88780064u);
constexpr HRESULT DSERR_NODRIVER = MakeResult(0x88780078u);
constexpr HRESULT DSERR_BUFFERLOST = MakeResult(0x88780096u);
constexpr HRESULT DSERR_UNINITIALIZED = MakeResult(0x887800AAu);
constexpr HRESULT DSERR_UNSUPPORTED = MakeResult(0x80004001u);
constexpr HRESULT DSERR_GENERIC = MakeResult(0x80004005u);
constexpr HRESULT DSERR_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT DSERR_INVALIDPARAM = MakeResult(0x80070057u);
constexpr HRESULT DSERR_NOAGGREGATION = MakeResult(0x80040110u);

// ---- Constants -----------------------------------------------------------------
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr DWORD DSBCAPS_STATIC = 0x00000002;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x00000004;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x00000008;
constexpr DWORD DSBCAPS_CTRL3D = 0x00000010;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr DWORD DSBCAPS_CTRLPAN = 0x00000040;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100;
constexpr DWORD DSBCAPS_STICKYFOCUS = 0x00004000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;

constexpr DWORD DSBPLAY_LOOPING = 0x00000001;

constexpr DWORD DSBSTATUS_PLAYING = 0x00000001;
constexpr DWORD DSBSTATUS_LOOPING = 0x00000004;

constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x00000002;

constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_CENTER = 0;
constexpr LONG DSBPAN_RIGHT = 10000;

constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;

// The rate and layout of the output stream (16-bit signed stereo).
constexpr int kDeviceRate = 44100;

// ---- Interfaces ------------------------------------------------------------------
// Reference-counted like their Windows namesakes: Release frees the object
// when the last reference goes.
class IDirectSoundBuffer {
 public:
  virtual unsigned long AddRef() = 0;
  virtual unsigned long Release() = 0;
  virtual HRESULT GetStatus(DWORD* status) = 0;
  virtual HRESULT Lock(DWORD offset, DWORD bytes, void** audio1, DWORD* bytes1, void** audio2,
                       DWORD* bytes2, DWORD flags) = 0;
  // From the current position; DSBPLAY_LOOPING repeats the whole buffer.
  virtual HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) = 0;
  virtual HRESULT SetCurrentPosition(DWORD position) = 0;
  // Hundredths of a decibel, -10000 (left only) to 10000 (right only): the
  // other channel is attenuated by that much.
  virtual HRESULT SetPan(LONG pan) = 0;
  // Keeps the position, so that Play resumes there.
  virtual HRESULT Stop() = 0;
  virtual HRESULT Unlock(void* audio1, DWORD bytes1, void* audio2, DWORD bytes2) = 0;

 protected:
  virtual ~IDirectSoundBuffer() = default;
};

class IDirectSound {
 public:
  virtual unsigned long AddRef() = 0;
  // The last reference closes the audio device; buffers still alive go
  // silent and keep working until they are released themselves.
  virtual unsigned long Release() = 0;
  virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer** buffer,
                                    void* outer) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;

 protected:
  virtual ~IDirectSound() = default;
};

using LPDIRECTSOUND = IDirectSound*;
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;

// Opens the default audio device (device must be null). Fails with
// DSERR_NODRIVER when no audio device can be opened, DSERR_ALLOCATED while
// another DirectSound object holds it.
HRESULT DirectSoundCreate(GUID* device, IDirectSound** directSound, void* outer);
