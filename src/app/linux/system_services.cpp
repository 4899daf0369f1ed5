#include "app/linux/system_services.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "anim/animation_file.h"
#include "app/idle_wait.h"
#include "app/main_window.h"
#include "app/music_player_probe.h"
#include "app/linux/sdl_events.h"
#include "app/startup.h"
#include "display/sdl/sdl_display.h"
#include "platform/linux/linux_platform.h"
#include "playback/frame_clock.h"
#include "playback/player.h"
#include "resources/resource_manager.h"
#include "shell/key_state.h"
#include "shell/shell_flags.h"
#include "sound/sound_device.h"

namespace kiv {

void SystemServices::ShowMessage(const char* text, const char* caption, UINT style) {
  MessageBoxA(nullptr, text, caption, style);
}

int SystemServices::RegisterMainClass(HINSTANCE module) { return kiv::RegisterMainClass(module); }

void SystemServices::ConnectSignals(HWND window) { platform::SetSignalWindow(window); }

void SystemServices::DestroyMainWindow(HWND window) {
  platform::SetSignalWindow(nullptr);
  DestroyWindow(window);
}

void SystemServices::SoundSetWindow(HWND window, HINSTANCE module) { TheSoundDevice().SetWindow(window, module); }

int SystemServices::SoundInit() { return TheSoundDevice().Init(); }

void SystemServices::SoundRelease() { TheSoundDevice().Release(); }

void SystemServices::CreateFileSystem() {
  fileSystem_.emplace();
  // Nothing else has registered yet, so there is room.
  TheResourceManager().RegisterFileSystem(&*fileSystem_);
}

void SystemServices::DestroyFileSystem() { fileSystem_.reset(); }

bool SystemServices::MusicPlayerProbe() { return kiv::MusicPlayerProbe(); }

bool SystemServices::DisplayInit() {
  if (!TheSdlDisplay().Init()) return false;
  if (!platform::VideoShowsWindows()) {
    // Playing on in a window nobody can see would never end by itself.
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "kivplay: cannot open the X display %s\n",
                 display != nullptr && display[0] != '\0' ? display : "(DISPLAY is not set)");
    TheSdlDisplay().Shutdown();
    return false;
  }
  platform::EndOnDisplayLoss();
  return true;
}

void SystemServices::AttachInput() { platform::AttachSdlInput(); }

void SystemServices::DetachInput() { platform::DetachSdlInput(); }

bool SystemServices::DisplayShutdown() { return TheSdlDisplay().Shutdown(); }

bool SystemServices::SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) {
  if (!TheSdlDisplay().SetVideoMode(width, height, bitsPerPixel)) return false;
  platform::EndOnDisplayLoss();  // SDL may have opened its window's connection anew
  return true;
}

void SystemServices::SetCaption(const char* path) { TheSdlDisplay().SetCaption(path); }

void SystemServices::Delay(std::uint32_t milliseconds) { platform::Delay(milliseconds); }

void SystemServices::PumpSdlEvents() { kiv::PumpSdlEvents(); }

void SystemServices::WaitIdle(std::uint32_t sliceMs) {
  // Sleeps on the X connection and the player's own sockets instead of in
  // slices: see platform::WaitForInput.
  const int slice = static_cast<int>(sliceMs);
  // The Player this start-up made, while it is the one that ticks.
  const Player* player = CurrentPlayer != nullptr ? this->player() : nullptr;
  int timeout = slice;
  if (player != nullptr) {
    const double untilFrame = player->State == Player::kPlaying ? player->MsUntilNextFrame() : -1.0;
    timeout = idleWait_.Next(AppActive != 0, PlayerView{player->State, player->CurrentFrame, player->BackgroundLayer},
                             untilFrame);
  }
  platform::WaitForInput(timeout, slice);
}

}  // namespace kiv

int WinMain(HINSTANCE module, HINSTANCE previousInstance, LPSTR commandLine, int showState) {
  platform::SetDesktop(&platform::LinuxDesktop());
  kiv::SetCurrentDisplay(&kiv::TheSdlDisplay());
  kiv::SystemServices services;
  return kiv::RunKivPlay(services, module, previousInstance, commandLine, showState);
}
