// The services that the start-up sequence, the main loop and the teardown
// call, in one interface: SystemServices drives the program's real objects,
// and tests put a recorder in its place to make any step fail and to watch
// the order of the teardown.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace kiv {

class AppModule;

class AppServices {
 public:
  virtual ~AppServices() = default;

  // Message boxes of the start-up (null owner).
  virtual void ShowMessage(const char* text, const char* caption, UINT style) = 0;

  // Main window, single instance and signals.
  virtual int CheckPlatform() = 0;
  virtual int FindOtherInstance(HINSTANCE previousInstance) = 0;
  virtual int RegisterMainClass(HINSTANCE module) = 0;
  virtual int CreateMainWindow(HINSTANCE module, int showState) = 0;
  virtual void ConnectSignals(HWND window) = 0;
  virtual void DestroyMainWindow(HWND window) = 0;

  // Sound device; Release is safe whether or not Init ran.
  virtual void SoundSetWindow(HWND window, HINSTANCE module) = 0;
  virtual int SoundInit() = 0;
  virtual void SoundRelease() = 0;

  // The StdioFileSystem that the start-up owns, registered with the
  // ResourceManager on creation.
  virtual void CreateFileSystem() = 0;
  virtual void DestroyFileSystem() = 0;

  virtual int InstallKeyboardHook() = 0;
  virtual void RemoveKeyboardHook() = 0;

  // True when a music player's window is open.
  virtual bool MusicPlayerProbe() = 0;

  // Display, and the keyboard bridge that lives while SDL video is up.
  virtual bool DisplayInit() = 0;
  virtual void AttachInput() = 0;
  virtual void DetachInput() = 0;
  virtual bool DisplayShutdown() = 0;
  virtual bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) = 0;
  virtual void SetCaption(const char* path) = 0;

  // Sets the frame and screen size globals on success.
  virtual bool ProbeAnimationHeader(const char* path) = 0;

  // The Player, or null when it cannot be allocated. The caller owns it.
  virtual AppModule* CreatePlayer() = 0;
  // Whether the player's load failed (asked before its Shutdown).
  virtual bool PlayerLoadFailed(AppModule* player) = 0;

  virtual void FrameClockInit(int rate) = 0;
  virtual void FrameClockStop() = 0;

  // What the main loop does when no message waits.
  virtual void Delay(std::uint32_t milliseconds) = 0;
  virtual void PumpSdlEvents() = 0;
  // The main loop's sleep after a pass with nothing to do. A host that can
  // wait on its inputs sleeps until one arrives or the Player has a frame
  // due; this one sleeps `sliceMs` and lets the loop look again.
  virtual void WaitIdle(std::uint32_t sliceMs) { Delay(sliceMs); }
};

}  // namespace kiv
