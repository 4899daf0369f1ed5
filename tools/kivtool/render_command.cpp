// kivtool render FILE... -o PATTERN [--frames A-B] [--paused] [--no-layer] [--start-number N] [--salvage]
//
// Runs the Player on a display in memory with a simulated clock and writes
// each screen it shows (frame, background layer, text lines) as an 8-bit
// palette PNG with the screen palette, one file per frame number. The
// Player's tables and the display are process-wide, so several files are
// rendered one after another, never side by side.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "anim/animation_writer.h"
#include "batch.h"
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

// Hands the player the file from memory under its own name: the bytes
// kivtool read, or their repaired copy when frames were lost. kExitOk, or
// the status after reporting why not.
int HandToPlayer(const std::string& file, const LoadedAnimation& animation, kiv::MemoryFileSystem* memory) {
  if (animation.damaged()) {
    memory->Add(file, RepairedBytes(animation));
  } else {
    memory->Add(file, animation.bytes());
  }
  if (file.size() >= sizeof(kiv::AnimationPath)) {
    Say("kivtool: %s: path too long\n", file.c_str());
    return kExitUsage;
  }
  if (!kiv::ProbeAnimation(&kiv::TheResourceManager(), file.c_str())) {
    Say("kivtool: %s: not a KIV animation or a corrupt one\n", file.c_str());
    return kExitFinding;
  }
  std::memcpy(kiv::AnimationPath, file.c_str(), file.size() + 1);
  return kExitOk;
}

// One file's screens written through the sink, as the player shows them.
class ScreenWriter {
 public:
  ScreenWriter(const RenderOptions& options, const char* file, const FrameJob& job, OffscreenRun& run,
               const NamePattern& pattern, FileProgress& progress)
      : options_(options), file_(file), job_(job), run_(run), progress_(progress) {
    ScreenPicture(run.display(), &screen_, &palette_);
    sink_ = std::make_unique<PngSequenceSink>(
        pattern, options.noClobber,
        SinkPicture{run.display().Width(), run.display().Height(), &palette_, kiv::kNoTransparency});
    progress_.Start(job.range.to - job.range.from + 1);
  }

  // Saves the screen shown for `frame`; false on an output error, reported.
  bool Save(std::uint32_t frame) {
    const std::uint32_t from = job_.range.from;
    progress_.Update(frame - from + 1);
    if (job_.animation.frame(frame) == nullptr) {
      progress_.Finish();
      Say("kivtool: %s: frame %u skipped: %s\n", file_, frame, job_.animation.damageOf(frame).c_str());
      status_ = kExitFinding;
      return true;
    }
    const unsigned long number = options_.startNumber
                                     ? static_cast<unsigned long>(*options_.startNumber) + (frame - from)
                                     : static_cast<unsigned long>(frame);
    ScreenPicture(run_.display(), &screen_, &palette_);
    std::string name, why;
    if (!sink_->Write(number, screen_.data(), 0, &name, &why)) {
      progress_.Finish();
      ReportIoError(name, why);
      return false;
    }
    return true;
  }

  // The paused player's screens: Esc on a tick that is not due pauses; each
  // paused tick shows the picture decoded on the tick before, so a frame
  // takes two ticks.
  int Paused() {
    kiv::KeyState::flags[kiv::kScanEsc] = 1;
    run_.Tick(0);
    for (std::uint32_t frame = job_.range.from; frame <= job_.range.to; ++frame) {
      if (Interrupted()) return Stop();
      run_.player().CurrentFrame = frame;
      run_.Tick(kTickMs);
      run_.Tick(kTickMs);
      if (!Save(frame)) return kExitUsage;
    }
    return status_;
  }

  // The playing player's screens, one frame interval per step.
  int Playing() {
    kiv::Player& player = run_.player();
    // Below one frame an hour the simulated clock would count for too long.
    constexpr double kMinRate = 1.0 / 3600.0;
    if (!(player.FrameRate >= kMinRate) || !std::isfinite(player.FrameRate)) {
      Say("kivtool: %s: frame rate %g never shows a frame; use --paused\n", file_,
          static_cast<double>(player.FrameRate));
      return kExitFinding;
    }
    // Every step lets one whole frame interval pass, so every tick shows a
    // frame: the one named by CurrentFrame before the tick.
    const DWORD step = static_cast<DWORD>(std::ceil(player.FrameInterval()) * kTickMs);
    for (;;) {
      if (Interrupted()) return Stop();
      const std::uint32_t shown = player.CurrentFrame;
      if (!run_.Tick(step)) {
        Say("kivtool: %s: playback stopped at frame %u\n", file_, shown);
        return kExitFinding;
      }
      if (shown >= job_.range.from && !Save(shown)) return kExitUsage;
      if (shown == job_.range.to) break;
    }
    return status_;
  }

 private:
  int Stop() {
    sink_->Discard();
    return kExitInterrupted;
  }

  const RenderOptions& options_;
  const char* file_;
  const FrameJob& job_;
  OffscreenRun& run_;
  FileProgress& progress_;
  std::vector<std::uint8_t> screen_, palette_;
  std::unique_ptr<PngSequenceSink> sink_;
  int status_ = kExitOk;
};

FileOutcome RenderFile(const RenderOptions& options, const std::string& input, FileProgress& progress) {
  const std::string output = WithInputName(options.output, InputName(input));
  NamePattern pattern;
  std::string problem;
  ParsePattern(output.c_str(), &pattern, &problem);  // checked before the run
  // kivtool's own load names what is wrong (missing file, damage and where);
  // the player then plays its bytes, or their repaired copy.
  FrameJob job;
  if (const int status = PrepareFrameJob("render", input, options.frames, options.salvage, &job); status >= 0) {
    return {status, false};
  }
  if (HasInputName(options.output) && !MakeFolderFor(output, &problem)) {
    ReportIoError(input, "cannot make the output folder: " + problem);
    return {kExitUsage, false};
  }
  // Declared before the run, whose Player points into its bytes.
  kiv::MemoryFileSystem memory;
  const Registered registered(&memory);
  if (const int status = HandToPlayer(input, job.animation, &memory); status != kExitOk) {
    return {status, false};
  }
  OffscreenRun run;
  if (!run.Start()) {
    Say("kivtool: %s: the animation does not load\n", input.c_str());
    return {kExitFinding, false};
  }
  // The screens after L: the frames drawn without the background behind them.
  if (options.noLayer) run.player().BackgroundLayer = 0;
  ScreenWriter writer(options, input.c_str(), job, run, pattern, progress);
  const int status = options.paused ? writer.Paused() : writer.Playing();
  progress.Finish();
  return {status, status <= kExitFinding};
}

int RunRender(const RenderOptions& options) {
  const bool many = ManyInputs(options.files);
  NamePattern pattern;
  std::string problem;
  if (many && !HasInputName(options.output)) {
    return UsageError("render: PATTERN needs %n, the input's name, when there are several inputs");
  }
  if (!ParsePattern(WithInputName(options.output, "name").c_str(), &pattern, &problem)) {
    return UsageError("render: " + problem);
  }
  return RunFiles({"render", 1, options.quiet}, options.files, options.recursive,
                  [&options](const std::string& input, FileProgress& progress) {
                    return RenderFile(options, input, progress);
                  });
}

}  // namespace

Command AddRenderCommand(CLI::App& app) {
  auto options = std::make_shared<RenderOptions>();
  CLI::App* command = app.add_subcommand(
      "render", "write the screens the player shows (frame, background, text) as palette PNGs");
  command->add_option("FILE", options->files, "the animations: files, or directories of them")->required();
  command
      ->add_option("-o,--output", options->output,
                   "a PNG name pattern with %d or %0Nd; %n stands for the input's name without .kiv")
      ->required()
      ->type_name("PATTERN");
  command->add_option("--frames", options->frames, "only frames A to B (frame numbers)")->type_name("A-B");
  command->add_flag("--paused", options->paused, "the screens of the paused player");
  command->add_flag("--no-layer", options->noLayer, "the screens with the background layer off (the L key)");
  command
      ->add_option_function<std::uint32_t>(
          "--start-number", [options](const std::uint32_t& number) { options->startNumber = number; },
          "number of the first file (default: the frame number)")
      ->type_name("N");
  command->add_flag("--salvage", options->salvage,
                    "render every frame that decodes, skip damaged ones (exit 1 if any)");
  command->add_flag("-r,--recursive", options->recursive, "also the animations in the directories' subdirectories");
  AddQuietAndNoClobber(command, &options->noClobber, &options->quiet);
  return {command, [options] { return RunRender(*options); }};
}

}  // namespace kivtool
