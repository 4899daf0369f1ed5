// GoogleMock doubles of the DirectSound interfaces, for watching the calls
// that the sound device and the Sounds make.
#pragma once

#include <gmock/gmock.h>

#include "platform/dsound.h"

namespace kiv::test {

class MockDirectSound : public IDirectSound {
 public:
  MOCK_METHOD(unsigned long, AddRef, (), (override));
  MOCK_METHOD(unsigned long, Release, (), (override));
  MOCK_METHOD(HRESULT, CreateSoundBuffer, (const DSBUFFERDESC*, IDirectSoundBuffer**, void*), (override));
  MOCK_METHOD(HRESULT, SetCooperativeLevel, (HWND, DWORD), (override));
};

class MockBuffer : public IDirectSoundBuffer {
 public:
  MOCK_METHOD(unsigned long, AddRef, (), (override));
  MOCK_METHOD(unsigned long, Release, (), (override));
  MOCK_METHOD(HRESULT, GetStatus, (DWORD*), (override));
  MOCK_METHOD(HRESULT, Lock, (DWORD, DWORD, void**, DWORD*, void**, DWORD*, DWORD), (override));
  MOCK_METHOD(HRESULT, Play, (DWORD, DWORD, DWORD), (override));
  MOCK_METHOD(HRESULT, SetCurrentPosition, (DWORD), (override));
  MOCK_METHOD(HRESULT, SetPan, (LONG), (override));
  MOCK_METHOD(HRESULT, Stop, (), (override));
  MOCK_METHOD(HRESULT, Unlock, (void*, DWORD, void*, DWORD), (override));
};

}  // namespace kiv::test
