// The half of the services that is the same on the desktop and in the
// browser: the main window's class-free steps, the keyboard flags, the
// header probe, the Player and the frame clock. SystemServices and
// WebServices add the display, sound, file system and messages of their own.
#pragma once

#include "app/app_services.h"

namespace kiv {

class Player;

class PlayerServices : public AppServices {
 public:
  int CheckPlatform() override;
  int FindOtherInstance(HINSTANCE previousInstance) override;
  int CreateMainWindow(HINSTANCE module, int showState) override;
  int InstallKeyboardHook() override;
  void RemoveKeyboardHook() override;
  // Reads the file from memory when a registered file system holds it there.
  bool ProbeAnimationHeader(const char* path) override;
  AppModule* CreatePlayer() override;
  bool PlayerLoadFailed(AppModule* player) override;
  void FrameClockInit(int rate) override;
  void FrameClockStop() override;

  // The Player that CreatePlayer made last (the start-up's caller owns it and
  // ends it with FinishKivPlay); null before the first.
  Player* player() const { return player_; }

 private:
  Player* player_ = nullptr;
};

}  // namespace kiv
