#include "app/startup.h"

#include <cstdio>
#include <cstring>

#include "anim/animation_file.h"
#include "app/main_loop.h"
#include "shell/app_module.h"
#include "shell/shell_flags.h"

namespace kiv {

namespace {

constexpr int kFrameClockRate = 100;
// The video mode is asked for in these depths, first success wins.
constexpr std::int32_t kModeDepths[] = {8, 32, 24};

}  // namespace

bool StoreAnimationPath(const char* commandLine) {
  const std::size_t length = std::strlen(commandLine);
  // A shell passes a path with blanks enclosed in quotes. Only one leading
  // and one trailing quote go; the rest, blanks included, is the path.
  const std::size_t start = (length > 0 && commandLine[0] == '"') ? 1 : 0;
  std::size_t end = (length > 0 && commandLine[length - 1] == '"') ? length - 1 : length;
  if (end < start) {
    end = start;  // a lone quote character: empty path
  }
  const std::size_t pathLength = end - start;
  if (pathLength >= sizeof(AnimationPath)) {
    return false;
  }
  std::memcpy(AnimationPath, commandLine + start, pathLength);
  AnimationPath[pathLength] = '\0';
  return true;
}

namespace {

// The start-up sequence up to the main loop: the exit code of a failed or
// unneeded start, or 0 with the running Player in *started.
// Kept in one piece on purpose: each failure takes down what the steps
// before it put up, in an order of its own (sound before or after the
// display, the box before or after the file system), and side by side with
// the steps those orders read plainly.
int StartUp(AppServices& services, HINSTANCE module, HINSTANCE previousInstance,
            const char* commandLine, int showState, AppModule** started) {
  if (commandLine == nullptr || commandLine[0] == '\0') {
    services.ShowMessage(kMessageNoAnimation, kCaptionError, kFatalStyle);
    return -1;
  }
  if (!StoreAnimationPath(commandLine)) {
    services.ShowMessage(kMessagePathTooLong, kCaptionError, kFatalStyle);
    return -1;
  }
  AppActive = 1;

  if (!services.CheckPlatform()) {
    return -1;
  }
  if (services.FindOtherInstance(previousInstance)) {
    return 0;
  }
  if (!services.RegisterMainClass(module) || !services.CreateMainWindow(module, showState)) {
    return -1;
  }
  // Ctrl-C and SIGTERM close the main window, so they end through the
  // normal teardown.
  services.ConnectSignals(MainWindow);
  services.SoundSetWindow(MainWindow, module);
  services.CreateFileSystem();

  if (!services.InstallKeyboardHook()) {
    services.DestroyFileSystem();
    return -1;
  }
  // A running music player keeps the sound device; we then play silently.
  if (!services.MusicPlayerProbe()) {
    services.SoundInit();
  }

  if (!services.DisplayInit()) {
    services.SoundRelease();
    services.RemoveKeyboardHook();
    services.ShowMessage(kMessageGraphicsInit, kCaptionFatal, kFatalStyle);
    services.DestroyFileSystem();
    return -1;
  }
  services.AttachInput();

  if (!services.ProbeAnimationHeader(AnimationPath)) {
    // SDL stays up on this path; only the keyboard bridge is taken down so
    // that nothing feeds a queue that is going away.
    services.DetachInput();
    services.SoundRelease();
    services.RemoveKeyboardHook();
    services.ShowMessage(kMessageBadAnimation, kCaptionFatal, kFatalStyle);
    services.DestroyFileSystem();
    return -1;
  }

  bool modeSet = false;
  for (std::int32_t depth : kModeDepths) {
    if (services.SetVideoMode(ScreenWidth, ScreenHeight, depth)) {
      modeSet = true;
      break;
    }
  }
  if (!modeSet) {
    services.SoundRelease();
    services.DetachInput();
    services.DisplayShutdown();
    services.RemoveKeyboardHook();
    char message[sizeof(kMessageVideoModeFormat) + 32];
    std::snprintf(message, sizeof(message), kMessageVideoModeFormat, static_cast<int>(ScreenWidth),
                  static_cast<int>(ScreenHeight));
    services.ShowMessage(message, kCaptionFatal, kFatalStyle);
    services.DestroyFileSystem();
    return -1;
  }

  PlaybackDone = 0;
  services.SetCaption(AnimationPath);

  AppModule* player = services.CreatePlayer();
  if (player == nullptr) {
    services.SoundRelease();
    services.DetachInput();
    services.DisplayShutdown();
    services.RemoveKeyboardHook();
    services.DestroyFileSystem();
    return -1;
  }
  if (!player->Init()) {
    player->Shutdown();
    delete player;
    CurrentPlayer = nullptr;
    services.DetachInput();
    services.DisplayShutdown();
    services.SoundRelease();
    services.RemoveKeyboardHook();
    services.ShowMessage(kMessagePlayerInit, kCaptionFatal, kFatalStyle);
    services.DestroyFileSystem();
    return -1;
  }

  services.FrameClockInit(kFrameClockRate);
  *started = player;
  return 0;
}

}  // namespace

bool StartKivPlay(AppServices& services, HINSTANCE module, HINSTANCE previousInstance,
                  const char* commandLine, int showState, AppModule** started, int* exitCode) {
  *started = nullptr;
  *exitCode = StartUp(services, module, previousInstance, commandLine, showState, started);
  return *started != nullptr;
}

int FinishKivPlay(AppServices& services, AppModule* player, int loopResult) {
  // A load that failed ends playback like a normal end; it must not be
  // reported as success.
  const bool loadFailed = services.PlayerLoadFailed(player);

  services.FrameClockStop();
  services.DetachInput();
  services.DisplayShutdown();
  player->Shutdown();
  delete player;
  CurrentPlayer = nullptr;
  services.SoundRelease();
  services.RemoveKeyboardHook();
  services.DestroyMainWindow(MainWindow);
  services.DestroyFileSystem();

  if (loadFailed) {
    services.ShowMessage(kMessageBadAnimation, kCaptionFatal, kFatalStyle);
    return -1;
  }
  return loopResult;
}

int RunKivPlay(AppServices& services, HINSTANCE module, HINSTANCE previousInstance,
               const char* commandLine, int showState) {
  AppModule* player = nullptr;
  int exitCode = 0;
  if (!StartKivPlay(services, module, previousInstance, commandLine, showState, &player, &exitCode)) {
    return exitCode;
  }
  return FinishKivPlay(services, player, RunMainLoop(services));
}

}  // namespace kiv
