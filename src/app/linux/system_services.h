// The program's real services behind the start-up sequence.
#pragma once

#include <optional>

#include "app/idle_wait.h"
#include "app/player_services.h"
#include "resources/file_system.h"

namespace kiv {

class SystemServices : public PlayerServices {
 public:
  void ShowMessage(const char* text, const char* caption, UINT style) override;
  int RegisterMainClass(HINSTANCE module) override;
  void ConnectSignals(HWND window) override;
  void DestroyMainWindow(HWND window) override;
  void SoundSetWindow(HWND window, HINSTANCE module) override;
  int SoundInit() override;
  void SoundRelease() override;
  void CreateFileSystem() override;
  void DestroyFileSystem() override;
  bool MusicPlayerProbe() override;
  bool DisplayInit() override;
  void AttachInput() override;
  void DetachInput() override;
  bool DisplayShutdown() override;
  bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) override;
  void SetCaption(const char* path) override;
  void Delay(std::uint32_t milliseconds) override;
  void PumpSdlEvents() override;
  void WaitIdle(std::uint32_t sliceMs) override;

 private:
  // The start-up's own file system; lives from CreateFileSystem to
  // DestroyFileSystem.
  std::optional<StdioFileSystem> fileSystem_;
  IdleWait idleWait_;
};

}  // namespace kiv

// The desktop program's entry point: puts the SDL display and the Linux
// desktop in place, then runs the program with its real services.
int WinMain(HINSTANCE module, HINSTANCE previousInstance, LPSTR commandLine, int showState);
