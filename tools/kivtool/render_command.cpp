// kivtool render FILE -o PATTERN [--frames A-B] [--paused] [--no-layer] [--start-number N] [--salvage]
//
// Runs the Player on a display in memory with a simulated clock and writes
// each screen it shows (frame, background layer, text lines) as an 8-bit
// palette PNG with the screen palette, one file per frame number.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "anim/animation_writer.h"
#include "commands.h"
#include "frame_job.h"
#include "frame_sinks.h"
#include "loaded_animation.h"
#include "output_file.h"
#include "progress.h"
#include "name_pattern.h"
#include "convert/png_io.h"
#include "convert/screen_palette.h"
#include "display/display.h"
#include "platform/platform.h"
#include "playback/frame_clock.h"
#include "playback/player.h"
#include "resources/memory_file_system.h"
#include "resources/resource_manager.h"
#include "shell/key_state.h"
#include "shell/shell_flags.h"

namespace kivtool {
namespace {

constexpr DWORD kTickMs = 10;

// The simulated millisecond timer that the frame clock reads.
DWORD g_simulatedNow = 0;
DWORD SimulatedNow() { return g_simulatedNow; }

// The screen as palette indices, rows of its width, and the palette it is shown with.
void ScreenPicture(kiv::MemoryDisplay& display, std::vector<std::uint8_t>* indices,
                   std::vector<std::uint8_t>* palette) {
  const std::int32_t width = display.Width(), height = display.Height();
  const std::size_t pitch = static_cast<std::size_t>(display.Pitch());
  indices->clear();
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = display.Pixels().data() + pitch * static_cast<std::size_t>(y);
    indices->insert(indices->end(), row, row + width);
  }
  palette->assign(display.Palette(), display.Palette() + 768);
}

// Everything the offscreen run puts in place, taken down again on every way out.
class OffscreenRun {
 public:
  OffscreenRun() {
    g_simulatedNow = 0;
    previousTime_ = platform::SetTimeSource(&SimulatedNow);
  }
  ~OffscreenRun() {
    if (player_ != nullptr) {
      player_->Shutdown();
      delete player_;
    }
    kiv::SetCurrentDisplay(nullptr);
    platform::SetTimeSource(previousTime_);
  }

  bool Start() {
    if (!display_.SetVideoMode(kiv::ScreenWidth, kiv::ScreenHeight, 8)) return false;
    kiv::SetCurrentDisplay(&display_);
    std::memset(kiv::KeyState::flags, 0, sizeof(kiv::KeyState::flags));
    // The Player is far too large for the stack.
    player_ = new kiv::Player(&kiv::TheResourceManager());
    player_->Init();
    kiv::TheFrameClock().Init(100);
    // The Player reads its file a slice per tick: tick until the load is over.
    return kiv::TickUntilLoaded(*player_);
  }

  // One tick after ms simulated milliseconds; true when the screen was flipped.
  bool Tick(DWORD ms) {
    g_simulatedNow += ms;
    const int flips = display_.FlipCount();
    player_->Update();
    return display_.FlipCount() != flips;
  }

  kiv::Player& player() { return *player_; }
  kiv::MemoryDisplay& display() { return display_; }

 private:
  kiv::MemoryDisplay display_;
  kiv::Player* player_ = nullptr;
  platform::TimeSource previousTime_ = nullptr;
};

// A copy of a damaged file that the player loads: the intact chunks as they
// are, every damaged frame marked as a repeat of the one before (the first
// frame, if damaged, gets an empty picture).
std::vector<std::uint8_t> RepairedBytes(const LoadedAnimation& animation) {
  const kiv::AnimationHeader& h = animation.header();
  kiv::AnimationWriteOptions options;
  options.version = kiv::kVersion949;
  options.frameRate = h.frameRate;
  options.firstFrame = h.firstFrame;
  options.loopStart = h.loopStart;
  options.loopEnd = h.loopEnd;
  options.width = h.width;
  options.height = h.height;
  std::vector<std::int32_t> flags;
  std::vector<std::vector<std::uint8_t>> payloads;
  for (std::uint32_t f = animation.first(); f <= animation.last(); ++f) {
    const kiv::FrameChunk* chunk = animation.frame(f);
    const bool reuse = f != animation.first() && (chunk == nullptr || animation.repeated(f));
    flags.push_back(reuse ? 1 : 0);
    if (reuse) continue;
    if (chunk != nullptr) {
      payloads.emplace_back(chunk->payload, chunk->payload + chunk->compressedSize);
    } else {
      const std::vector<std::uint8_t> blank(animation.pictureSize(), 0);
      kiv::FrameChunk empty;
      empty.Encode(blank.data(), static_cast<std::int32_t>(blank.size()));
      payloads.emplace_back(empty.payload, empty.payload + empty.compressedSize);
    }
  }
  const kiv::FrameChunk* background = animation.background();
  const std::vector<std::uint8_t> backgroundPayload(background->payload,
                                                    background->payload + background->compressedSize);
  return kiv::AssembleAnimation(options, h.lastFrame, backgroundPayload, flags, payloads);
}

// Registered with the resource manager while it lives.
class Registered {
 public:
  explicit Registered(kiv::FileSystem* fileSystem) : fileSystem_(fileSystem) {
    kiv::TheResourceManager().RegisterFileSystem(fileSystem);
  }
  ~Registered() { kiv::TheResourceManager().UnregisterFileSystem(fileSystem_); }
  Registered(const Registered&) = delete;
  Registered& operator=(const Registered&) = delete;

 private:
  kiv::FileSystem* fileSystem_;
};

}  // namespace

int RunRender(const RenderOptions& options) {
  const char* file = options.file.c_str();
  NamePattern pattern;
  std::string problem;
  if (!ParsePattern(options.output.c_str(), &pattern, &problem)) return UsageError("render: " + problem);

  // kivtool's own load names what is wrong (missing file, damage and where);
  // the player then loads the file, or its repaired copy, again.
  FrameJob job;
  if (const int status = PrepareFrameJob("render", options.file, options.frames, options.salvage, &job);
      status >= 0) {
    return status;
  }
  const LoadedAnimation& animation = job.animation;
  // The player reads the file from memory under its own name: the bytes
  // kivtool read, or their repaired copy. Declared before the run, whose
  // Player points into them.
  kiv::MemoryFileSystem memory;
  if (animation.damaged()) {
    memory.Add(options.file, RepairedBytes(animation));
  } else {
    memory.Add(options.file, animation.bytes());
  }
  const Registered registered(&memory);
  if (options.file.size() >= sizeof(kiv::AnimationPath)) {
    std::fprintf(stderr, "kivtool: %s: path too long\n", file);
    return kExitUsage;
  }
  if (!kiv::ProbeAnimation(&kiv::TheResourceManager(), file)) {
    std::fprintf(stderr, "kivtool: %s: not a KIV animation or a corrupt one\n", file);
    return kExitFinding;
  }
  std::memcpy(kiv::AnimationPath, file, options.file.size() + 1);

  OffscreenRun run;
  if (!run.Start()) {
    std::fprintf(stderr, "kivtool: %s: the animation does not load\n", file);
    return kExitFinding;
  }
  kiv::Player& player = run.player();
  // The screens after L: the frames drawn without the background behind them.
  if (options.noLayer) player.BackgroundLayer = 0;
  const std::uint32_t from = job.range.from, to = job.range.to;
  std::vector<std::uint8_t> screen, palette;
  ScreenPicture(run.display(), &screen, &palette);
  PngSequenceSink sink(pattern, options.noClobber,
                       {run.display().Width(), run.display().Height(), &palette, kiv::kNoTransparency});

  int status = kExitOk;
  Progress progress("render", to - from + 1, options.quiet);
  auto save = [&](std::uint32_t frame) {
    progress.Update(frame - from + 1);
    if (animation.frame(frame) == nullptr) {
      progress.Finish();
      std::fprintf(stderr, "kivtool: %s: frame %u skipped: %s\n", file, frame, animation.damageOf(frame).c_str());
      status = kExitFinding;
      return true;
    }
    const unsigned long number = options.haveStartNumber
                                     ? static_cast<unsigned long>(options.startNumber) + (frame - from)
                                     : static_cast<unsigned long>(frame);
    ScreenPicture(run.display(), &screen, &palette);
    std::string name, why;
    if (!sink.Write(number, screen.data(), 0, &name, &why)) {
      progress.Finish();
      ReportIoError(name, why);
      return false;
    }
    return true;
  };

  if (options.paused) {
    // Esc on a tick that is not due pauses; each paused tick shows the
    // picture decoded on the tick before, so a frame takes two ticks.
    kiv::KeyState::flags[kiv::kScanEsc] = 1;
    run.Tick(0);
    for (std::uint32_t frame = from; frame <= to; ++frame) {
      player.CurrentFrame = frame;
      run.Tick(kTickMs);
      run.Tick(kTickMs);
      if (!save(frame)) return kExitUsage;
    }
    return status;
  }

  // Below one frame an hour the simulated clock would count for too long.
  constexpr double kMinRate = 1.0 / 3600.0;
  if (!(player.FrameRate >= kMinRate) || !std::isfinite(player.FrameRate)) {
    std::fprintf(stderr, "kivtool: %s: frame rate %g never shows a frame; use --paused\n", file,
                 static_cast<double>(player.FrameRate));
    return kExitFinding;
  }
  // Every step lets one whole frame interval pass, so every tick shows a
  // frame: the one named by CurrentFrame before the tick.
  const double interval = player.FrameInterval();
  const double stepMs = std::ceil(interval) * kTickMs;
  const DWORD step = static_cast<DWORD>(stepMs);
  for (;;) {
    const std::uint32_t shown = player.CurrentFrame;
    if (!run.Tick(step)) {
      std::fprintf(stderr, "kivtool: %s: playback stopped at frame %u\n", file, shown);
      return kExitFinding;
    }
    if (shown >= from && !save(shown)) return kExitUsage;
    if (shown == to) break;
  }
  return status;
}

}  // namespace kivtool
