// The services behind the start-up sequence in the browser: the display is
// a WebDisplay, keystrokes come from the page, messages and the caption go to
// the page, and nothing blocks (the page runs the main loop in passes).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/player_services.h"
#include "resources/memory_file_system.h"
#include "web/web_display.h"

namespace kiv::web {

class WebServices : public PlayerServices {
 public:
  explicit WebServices(WebDisplay* display) : display_(display) {}

  // Room for the next file's `size` bytes, which the page writes there
  // before it opens the file; null when there is not the memory. The start-up
  // hands them to the file system under `name` (the path it is given).
  std::uint8_t* PrepareFile(std::size_t size);
  void NameFile(const char* name) { fileName_ = name != nullptr ? name : ""; }
  // Frees the file's bytes (once no Player points into them).
  void DropFile() {
    fileBytes_.reset();
    fileSize_ = 0;
  }

  void ShowMessage(const char* text, const char* caption, UINT style) override;
  int RegisterMainClass(HINSTANCE module) override;
  void ConnectSignals(HWND) override {}
  void DestroyMainWindow(HWND window) override;
  // The page plays silently.
  void SoundSetWindow(HWND, HINSTANCE) override {}
  int SoundInit() override { return 0; }
  void SoundRelease() override {}
  void CreateFileSystem() override;
  void DestroyFileSystem() override;
  bool MusicPlayerProbe() override { return false; }
  bool DisplayInit() override;
  void AttachInput() override {}
  void DetachInput() override {}
  bool DisplayShutdown() override;
  bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) override;
  void SetCaption(const char* path) override;
  // The browser's main thread must not block: a pass that would wait ends
  // the page's turn instead (StepMainLoop reports it as idle).
  void Delay(std::uint32_t) override {}
  void PumpSdlEvents() override {}

 private:
  WebDisplay* display_;
  // The page's file, and the file system that holds it while it plays.
  std::unique_ptr<std::uint8_t[]> fileBytes_;
  std::size_t fileSize_ = 0;
  std::string fileName_;
  std::optional<MemoryFileSystem> fileSystem_;
  bool classRegistered_ = false;
};

}  // namespace kiv::web
