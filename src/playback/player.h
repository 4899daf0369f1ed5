// The playback engine: holds the whole animation in memory and, one tick at a
// time, loads it, plays it at its frame rate or shows it paused, composing
// each screen and its text lines on CurrentDisplay().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "anim/animation_file.h"
#include "anim/frame_chunk.h"
#include "shell/app_module.h"

namespace kiv {

class FrameClock;
class Image;
class ResourceManager;

class Player : public AppModule {
 public:
  enum : std::int32_t { kPaused = 1, kPlaying = 2, kLoading = 3 };

  // The animation is read from memory when a file system of `resources`
  // (may be null) holds it there, from disk otherwise. Clears CurrentPlayer.
  explicit Player(ResourceManager* resources);
  // Frees whatever Shutdown has not (Shutdown is the normal way).
  ~Player() override;
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Font sheet, blank screen, field values and the screen palette; 1.
  int Init() override;
  // One tick; 0 when the program is to end.
  int Update() override;
  // Frees the frame chunks, the background chunk and the font; 1.
  int Shutdown() override;

  // True when the Loading ticks could not load the animation.
  bool LoadFailed() const { return loadFailed_; }
  // Why the load failed (meaningful when LoadFailed()).
  const AnimationError& LoadError() const { return loadError_; }
  // While playing: milliseconds until a tick would show the next frame by
  // the frame clock, 0 when one is due now, negative when the rate never
  // makes one due. A caller that sleeps this long wakes no earlier than needed.
  double MsUntilNextFrame() const;
  // Clock ticks from one frame to the next (100 / FrameRate); infinite for a
  // rate that never makes a frame due.
  double FrameInterval() const;
  // How long one Loading tick reads (10 ms; zero reads one piece per tick).
  void SetLoadSlice(std::chrono::steady_clock::duration slice) { loadSlice_ = slice; }

  // The tables that LoadAnimation fills, pointing at this Player's fields.
  AnimationTables Tables();

  float FrameRate = 12.5f;
  std::int32_t Finished = 0;
  std::uint8_t FrameBuffer[kFrameBufferSize];
  std::uint8_t BackgroundBuffer[kBackgroundBufferSize];
  std::uint8_t LegacyScratch[kLegacyScratchSize];
  std::uint32_t CurrentFrame = 0;
  std::uint32_t FirstFrame = 0;
  std::uint32_t LastFrame = 0;
  std::int32_t BackgroundLayer = 0;
  std::int32_t State = kLoading;
  std::uint8_t ScreenPalette[256 * 3] = {};
  FrameChunk* Frames[kMaxFrames] = {};
  std::int32_t RepeatFlags[kMaxFrames] = {};
  FrameChunk* BackgroundChunk = nullptr;
  Image* Font = nullptr;

 private:
  void DrawScreen(const char* versionLine, const char* creditLine);
  void DecodeFrame(std::uint32_t frame);
  void PauseStep();
  void PausedKeys();
  static void ConsumeInterval(FrameClock& clock, double interval);
  void ReleaseAll();
  // One Loading tick: false when the load failed.
  bool LoadSlice();

  ResourceManager* resources_;
  bool loadFailed_ = false;
  AnimationError loadError_;
  // The load in progress; it reads a slice of the file per tick.
  std::unique_ptr<AnimationLoader> loader_;
  std::chrono::steady_clock::duration loadSlice_;
};

// Ticks a Player that is loading until its load is over, as the main loop
// would (the load reads one slice of the file per tick). For anything that
// drives the Player itself, offscreen. False when the load failed or the
// Player ended; true once it is playing.
bool TickUntilLoaded(Player& player);

// The header probe of the file a Player of `resources` loads: from memory
// when a file system holds the path there, from disk otherwise. Sets the
// frame and screen size globals on success.
bool ProbeAnimation(ResourceManager* resources, const char* path);

// Formats the status line "Frame: %4i/%4i, FPS = %2.2f" into buffer.
void FormatStatusLine(char* buffer, std::size_t size, std::uint32_t currentFrame,
                      std::uint32_t firstFrame, std::uint32_t lastFrame, float frameRate);

}  // namespace kiv
