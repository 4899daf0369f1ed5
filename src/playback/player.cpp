#include "playback/player.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "display/display.h"
#include "image/image.h"
#include "image/text.h"
#include "playback/composition.h"
#include "playback/frame_clock.h"
#include "resources/resource_manager.h"
#include "shell/key_state.h"
#include "shell/shell_flags.h"

namespace kiv {

namespace {

constexpr const char* kPausedVersionLine = "KIV Player version 1.0";
constexpr const char* kPlayingVersionLine = "KIV Player version 3.1";
constexpr const char* kPausedCreditLine =
    "Paused: 1/2 or arrows step, L background, 4 plays, Esc quits";
constexpr const char* kPlayingCreditLine = "Playing: Esc pauses, F12 quits";
constexpr std::int32_t kVersionX = 500;
constexpr std::int32_t kTextTop = 2;
constexpr std::int32_t kTextLeft = 8;
constexpr std::int32_t kCreditFromBottom = 11;
// The clock runs at 100 ticks per second.
constexpr double kTicksPerSecond = 100.0;
// How long one Loading tick reads before it lets the main loop see its
// messages again (a quit, the close button, a second start).
constexpr auto kLoadSlice = std::chrono::milliseconds(10);
// Beyond this many surplus intervals, drop them in one step: subtracting a
// tiny interval from a large count would make no progress.
constexpr double kMaxSurplusLoop = 1e6;

bool AnyKey(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  return KeyState::flags[a] || KeyState::flags[b] || KeyState::flags[c];
}

void ClearKeys(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  KeyState::flags[a] = 0;
  KeyState::flags[b] = 0;
  KeyState::flags[c] = 0;
}

}  // namespace

void FormatStatusLine(char* buffer, std::size_t size, std::uint32_t currentFrame,
                      std::uint32_t firstFrame, std::uint32_t lastFrame, float frameRate) {
  std::snprintf(buffer, size, "Frame: %4i/%4i, FPS = %2.2f", static_cast<int>(currentFrame + 1),
                static_cast<int>(lastFrame - firstFrame + 1), static_cast<double>(frameRate));
}

Player::Player(ResourceManager* resources) : resources_(resources), loadSlice_(kLoadSlice) {
  CurrentPlayer = nullptr;
}

bool ProbeAnimation(ResourceManager* resources, const char* path) {
  ByteSpan file;
  if (resources != nullptr && resources->FileInMemory(path, &file)) return ProbeAnimationBytes(file);
  return ProbeAnimationHeader(path);
}

Player::~Player() { ReleaseAll(); }

AnimationTables Player::Tables() {
  return AnimationTables{&FrameRate,       &FirstFrame,     &LastFrame,       Frames,
                         RepeatFlags,      &BackgroundChunk, BackgroundBuffer, LegacyScratch};
}

int Player::Init() {
  CurrentPlayer = this;
  UpdateBusy = 0;

  delete Font;  // a second Init replaces the font rather than leaking it
  Font = new Image();
  Font->LoadSheetFromMemory(FontSheetData(), FontSheetSize());
  Font->ApplyPalette();

  Display& display = CurrentDisplay();
  ClearScreen();
  display.Flip();
  ClearScreen();
  display.Flip();

  Finished = 0;
  FrameRate = 12.5f;
  for (std::uint32_t i = 0; i < kMaxFrames; ++i) {
    Frames[i] = nullptr;
    RepeatFlags[i] = 0;
  }
  CurrentFrame = 0;
  FirstFrame = 0;
  LastFrame = 0;
  BackgroundLayer = 0;
  State = kLoading;
  loadFailed_ = false;
  loader_.reset();

  // The Display now holds the font sheet's colours; keep 1 to 63 of them.
  display.GetPalette(ScreenPalette, 0, 256);
  BuildScreenPalette(ScreenPalette);
  display.SetPalette(ScreenPalette, 0, 256);
  return 1;
}

int Player::Update() {
  std::uint8_t* keys = KeyState::flags;
  if (keys[kScanF12] || QuitRequested) {
    Finished = 1;
  }
  if (Finished) {
    return 0;
  }

  FrameClock& clock = TheFrameClock();
  clock.Update();
  TickIdle = 0;

  if (State == kPlaying) {
    const double interval = FrameInterval();
    if (!(interval <= clock.ElapsedTicks)) {
      if (keys[kScanEsc]) {
        PauseStep();
        return 1;
      }
      TickIdle = 1;
      return 1;
    }
    ConsumeInterval(clock, interval);
  } else {
    clock.ElapsedTicks = 0.0;
  }

  if (State != kPlaying) {
    TickIdle = 1;
  }

  switch (State) {
    case kPaused:
      DrawScreen(kPausedVersionLine, kPausedCreditLine);
      DecodeFrame(CurrentFrame);
      if (keys[kScanEsc]) {
        return 0;  // this tick's drawing is not shown
      }
      PausedKeys();
      break;

    case kPlaying:
      DrawScreen(kPlayingVersionLine, kPlayingCreditLine);
      CurrentFrame = CurrentFrame < LastFrame ? CurrentFrame + 1 : FirstFrame;
      DecodeFrame(CurrentFrame);
      if (keys[kScanEsc]) {
        PauseStep();
      }
      break;

    case kLoading:
      if (!LoadSlice()) {
        loadFailed_ = true;
        Finished = 1;  // a second tick must not load over the partial tables
        return 0;
      }
      if (loader_ != nullptr) {
        // More to read: nothing is drawn, and no idle pause slows the load.
        TickIdle = 0;
        return 1;
      }
      // Start at the file's first frame with its picture ready, so the first
      // playing tick shows it under its own number.
      CurrentFrame = FirstFrame;
      DecodeFrame(CurrentFrame);
      State = kPlaying;
      BackgroundLayer = 1;
      break;

    default:
      break;
  }

  CurrentDisplay().Flip();
  return 1;
}

// Shows one frame: the clock keeps the remainder, whole surplus intervals go.
void Player::ConsumeInterval(FrameClock& clock, double interval) {
  clock.ElapsedTicks -= interval;
  if (clock.ElapsedTicks / interval > kMaxSurplusLoop) {
    clock.ElapsedTicks = std::fmod(clock.ElapsedTicks, interval);
  }
  while (clock.ElapsedTicks >= interval) {
    clock.ElapsedTicks -= interval;
  }
}

// The keys read while paused: step back or on, play, the background layer.
void Player::PausedKeys() {
  std::uint8_t* keys = KeyState::flags;
  if (AnyKey(kScan1, kScanLeft, kScanUp)) {
    ClearKeys(kScan1, kScanLeft, kScanUp);
    CurrentFrame = CurrentFrame > FirstFrame ? CurrentFrame - 1 : LastFrame;
  }
  if (AnyKey(kScan2, kScanRight, kScanDown)) {
    ClearKeys(kScan2, kScanRight, kScanDown);
    CurrentFrame = CurrentFrame < LastFrame ? CurrentFrame + 1 : FirstFrame;
  }
  if (keys[kScan4]) {
    keys[kScan4] = 0;
    State = kPlaying;
  }
  if (keys[kScanL]) {
    keys[kScanL] = 0;
    BackgroundLayer = BackgroundLayer == 0 ? 1 : 0;
  }
}

double Player::FrameInterval() const {
  // A rate that is not above 0 (0, negative, NaN) never makes a frame due.
  return FrameRate > 0.0f ? kTicksPerSecond / static_cast<double>(FrameRate) : INFINITY;
}

double Player::MsUntilNextFrame() const {
  const FrameClock& clock = TheFrameClock();
  const double interval = FrameInterval();
  if (!(interval < INFINITY) || clock.PeriodMs <= 0) return -1.0;
  const double ticksLeft = interval - clock.ElapsedTicks;
  if (ticksLeft <= 0.0) return 0.0;
  // The clock counts whole periods from LastTickTime; part of the next one
  // may already have gone by.
  const DWORD sinceLastTick = timeGetTime() - clock.LastTickTime;
  const double ms = std::ceil(ticksLeft) * clock.PeriodMs - static_cast<double>(sinceLastTick);
  return ms > 0.0 ? ms : 0.0;
}

bool TickUntilLoaded(Player& player) {
  while (player.State == Player::kLoading) {
    if (player.Update() == 0) return false;
  }
  return !player.LoadFailed();
}

bool Player::LoadSlice() {
  if (loader_ == nullptr) {
    loader_ = std::make_unique<AnimationLoader>(Tables());
    ByteSpan file;
    if (resources_ != nullptr && resources_->FileInMemory(AnimationPath, &file)) {
      // The file system keeps the file until after the Player has gone.
      loader_->Attach(file, true);
    } else if (!loader_->Open(AnimationPath, &loadError_)) {
      loader_.reset();
      return false;
    }
  }
  const AnimationLoader::Status status = loader_->Advance(loadSlice_, &loadError_);
  if (status == AnimationLoader::Status::kMore) return true;
  loader_.reset();
  if (status == AnimationLoader::Status::kDone) return true;
  // A sound file that did not fit in memory is not to be taken for corrupt.
  if (loadError_.noMemory) std::fprintf(stderr, "kivplay: %s\n", loadError_.what.c_str());
  return false;
}

int Player::Shutdown() {
  ReleaseAll();
  return 1;
}

void Player::DrawScreen(const char* versionLine, const char* creditLine) {
  ClearScreen();
  const ComposeSource source{FrameBuffer, sizeof(FrameBuffer), BackgroundBuffer,
                             sizeof(BackgroundBuffer), BackgroundLayer};
  ComposeScreen(source, 0, 0, FrameWidth, FrameHeight);
  if (Font == nullptr) {
    return;
  }
  char status[96];
  FormatStatusLine(status, sizeof(status), CurrentFrame, FirstFrame, LastFrame, FrameRate);
  DrawText(*Font, versionLine, kVersionX, kTextTop);
  DrawText(*Font, creditLine, kTextLeft, ScreenHeight - kCreditFromBottom);
  DrawText(*Font, status, kTextLeft, kTextTop);
}

void Player::DecodeFrame(std::uint32_t frame) {
  if (frame >= kMaxFrames || Frames[frame] == nullptr) {
    return;
  }
  if (FrameWidth < 1 || FrameHeight < 1) {
    return;
  }
  // A chunk may expand past its picture within the frame buffer (the load
  // checked that); only the picture's bytes are ever shown.
  const std::size_t picture =
      static_cast<std::size_t>(FrameWidth) * static_cast<std::size_t>(FrameHeight);
  Frames[frame]->DecodeClipped(FrameBuffer, picture, sizeof(FrameBuffer));
}

void Player::PauseStep() {
  DecodeFrame(CurrentFrame);
  KeyState::flags[kScanEsc] = 0;
  State = kPaused;
}

void Player::ReleaseAll() {
  loader_.reset();
  ReleaseFrames(Tables());
  delete BackgroundChunk;
  BackgroundChunk = nullptr;
  delete Font;
  Font = nullptr;
}

}  // namespace kiv
