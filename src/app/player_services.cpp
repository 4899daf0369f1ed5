#include "app/player_services.h"

#include <new>

#include "app/main_window.h"
#include "playback/frame_clock.h"
#include "playback/player.h"
#include "resources/resource_manager.h"
#include "shell/key_state.h"

namespace kiv {

int PlayerServices::CheckPlatform() { return kiv::CheckPlatform(); }

int PlayerServices::FindOtherInstance(HINSTANCE previousInstance) {
  return kiv::FindOtherInstance(previousInstance);
}

int PlayerServices::CreateMainWindow(HINSTANCE module, int showState) {
  return kiv::CreateMainWindow(module, showState);
}

int PlayerServices::InstallKeyboardHook() { return KeyState::Install(); }

void PlayerServices::RemoveKeyboardHook() { KeyState::Remove(); }

bool PlayerServices::ProbeAnimationHeader(const char* path) {
  return ProbeAnimation(&TheResourceManager(), path);
}

AppModule* PlayerServices::CreatePlayer() {
  player_ = new (std::nothrow) Player(&TheResourceManager());
  return player_;
}

bool PlayerServices::PlayerLoadFailed(AppModule* player) {
  return player != nullptr && player == player_ && player_->LoadFailed();
}

void PlayerServices::FrameClockInit(int rate) { TheFrameClock().Init(rate); }

void PlayerServices::FrameClockStop() { TheFrameClock().Stop(); }

}  // namespace kiv
