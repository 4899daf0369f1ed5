// A stand-in for the program's services that records every call in order
// and fails the steps a test chooses; and a Player stand-in that writes into
// the same record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "app/app_services.h"
#include "shell/app_module.h"
#include "shell/shell_flags.h"

namespace kiv::testing {

using CallLog = std::vector<std::string>;

class RecordingPlayer : public AppModule {
 public:
  explicit RecordingPlayer(CallLog* log) : log_(log) {}
  ~RecordingPlayer() override { log_->push_back("Player destroyed"); }

  int Init() override {
    log_->push_back("Player Init");
    if (initResult != 0) {
      CurrentPlayer = this;
      UpdateBusy = 0;
    }
    return initResult;
  }
  int Update() override {
    ++updates;
    log_->push_back("Player Update");
    return onUpdate ? onUpdate(updates) : 0;
  }
  int Shutdown() override {
    log_->push_back("Player Shutdown");
    return 1;
  }

  int initResult = 1;
  int updates = 0;
  // Given the number of this update (from 1); returns Update's result.
  std::function<int(int)> onUpdate;
  bool loadFailed = false;

 private:
  CallLog* log_;
};

class RecordingServices : public AppServices {
 public:
  struct Box {
    std::string text;
    std::string caption;
    UINT style;
  };

  void ShowMessage(const char* text, const char* caption, UINT style) override {
    log.push_back("Box");
    boxes.push_back({text, caption, style});
  }
  int CheckPlatform() override { return Step("CheckPlatform", checkPlatform); }
  int FindOtherInstance(HINSTANCE previous) override {
    previousSeen = previous;
    return Step("FindOtherInstance", otherInstance);
  }
  int RegisterMainClass(HINSTANCE) override { return Step("RegisterMainClass", registerClass); }
  int CreateMainWindow(HINSTANCE module, int) override {
    moduleSeen = module;
    if (createWindow) {
      MainWindow = fakeWindow;
    }
    return Step("CreateMainWindow", createWindow);
  }
  void ConnectSignals(HWND window) override {
    signalWindow = window;
    log.push_back("ConnectSignals");
  }
  void DestroyMainWindow(HWND window) override {
    destroyedWindow = window;
    log.push_back("DestroyMainWindow");
  }
  void SoundSetWindow(HWND window, HINSTANCE) override {
    soundWindow = window;
    log.push_back("SoundSetWindow");
  }
  int SoundInit() override { return Step("SoundInit", 1); }
  void SoundRelease() override { log.push_back("SoundRelease"); }
  void CreateFileSystem() override { log.push_back("CreateFileSystem"); }
  void DestroyFileSystem() override { log.push_back("DestroyFileSystem"); }
  int InstallKeyboardHook() override { return Step("InstallKeyboardHook", installHook); }
  void RemoveKeyboardHook() override { log.push_back("RemoveKeyboardHook"); }
  bool MusicPlayerProbe() override { return Step("MusicPlayerProbe", musicPlayer); }
  bool DisplayInit() override { return Step("DisplayInit", displayInit); }
  void AttachInput() override { log.push_back("AttachInput"); }
  void DetachInput() override { log.push_back("DetachInput"); }
  bool DisplayShutdown() override { return Step("DisplayShutdown", 1); }
  bool SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bits) override {
    const bool ok = bits == acceptedDepth;
    log.push_back("SetVideoMode " + std::to_string(width) + "x" + std::to_string(height) + "x" +
                  std::to_string(bits));
    return ok;
  }
  void SetCaption(const char* path) override {
    playbackDoneAtCaption = PlaybackDone;
    log.push_back(std::string("SetCaption ") + path);
  }
  bool ProbeAnimationHeader(const char* path) override {
    probedPath = path;
    if (probe) {
      FrameWidth = probeWidth;
      FrameHeight = probeHeight;
      ScreenWidth = probeWidth + 80;
      ScreenHeight = probeHeight + 24;
    }
    return Step("ProbeAnimationHeader", probe);
  }
  AppModule* CreatePlayer() override {
    log.push_back("CreatePlayer");
    if (!allocatePlayer) {
      return nullptr;
    }
    player = new RecordingPlayer(&log);
    player->initResult = playerInit;
    player->onUpdate = onUpdate;
    return player;
  }
  bool PlayerLoadFailed(AppModule*) override {
    log.push_back("PlayerLoadFailed");
    return loadFailed;
  }
  void FrameClockInit(int rate) override { log.push_back("FrameClockInit " + std::to_string(rate)); }
  void FrameClockStop() override { log.push_back("FrameClockStop"); }
  void Delay(std::uint32_t milliseconds) override { log.push_back("Delay " + std::to_string(milliseconds)); }
  void PumpSdlEvents() override {
    log.push_back("PumpSdlEvents");
    if (onPump) {
      onPump();
    }
  }

  // Outcome of each step (1 = success).
  int checkPlatform = 1;
  int otherInstance = 0;
  int registerClass = 1;
  int createWindow = 1;
  int installHook = 1;
  int musicPlayer = 0;
  int displayInit = 1;
  int probe = 1;
  std::int32_t probeWidth = 720;
  std::int32_t probeHeight = 576;
  std::int32_t acceptedDepth = 8;
  bool allocatePlayer = true;
  int playerInit = 1;
  bool loadFailed = false;
  std::function<int(int)> onUpdate;
  std::function<void()> onPump;

  // What the steps saw.
  CallLog log;
  std::vector<Box> boxes;
  HWND fakeWindow = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x4A11));
  HINSTANCE previousSeen = nullptr;
  HINSTANCE moduleSeen = nullptr;
  HWND signalWindow = nullptr;
  HWND soundWindow = nullptr;
  HWND destroyedWindow = nullptr;
  std::string probedPath;
  std::int32_t playbackDoneAtCaption = -1;
  RecordingPlayer* player = nullptr;  // owned by the code under test

 private:
  int Step(const char* name, int result) {
    log.push_back(name);
    return result;
  }
};

}  // namespace kiv::testing
