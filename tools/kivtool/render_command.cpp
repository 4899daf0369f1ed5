// kivtool render FILE -o PATTERN [--frames A-B] [--paused]
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
#include "commands.h"
#include "name_pattern.h"
#include "png_files.h"
#include "display/display.h"
#include "platform/platform.h"
#include "playback/frame_clock.h"
#include "playback/player.h"
#include "shell/key_state.h"
#include "shell/shell_flags.h"

namespace kivtool {
namespace {

constexpr DWORD kTickMs = 10;

int RenderUsage(const std::string& problem) { return UsageError(("render: " + problem).c_str()); }

// The simulated millisecond timer that the frame clock reads.
DWORD g_simulatedNow = 0;
DWORD SimulatedNow() { return g_simulatedNow; }

bool ParseFrameRange(const std::string& text, std::uint32_t* first, std::uint32_t* last) {
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 >= text.size()) return false;
  auto number = [](const std::string& part, std::uint32_t* value) {
    if (part.empty() || part.size() > 5) return false;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
    }
    *value = static_cast<std::uint32_t>(std::stoul(part));
    return true;
  };
  return number(text.substr(0, dash), first) && number(text.substr(dash + 1), last) &&
         *first <= *last;
}

// Writes the screen as an 8-bit palette PNG with the palette it is shown with.
bool WriteScreenPng(const std::string& path, kiv::MemoryDisplay& display, std::string* problem) {
  const std::int32_t width = display.Width(), height = display.Height();
  const std::size_t pitch = static_cast<std::size_t>(display.Pitch());
  std::vector<std::uint8_t> indices;
  indices.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = display.Pixels().data() + pitch * static_cast<std::size_t>(y);
    indices.insert(indices.end(), row, row + width);
  }
  const std::vector<std::uint8_t> palette(display.Palette(), display.Palette() + 768);
  return WritePalettePng(path.c_str(), indices.data(), width, height, palette, problem);
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
    player_ = new kiv::Player(nullptr);
    player_->Init();
    kiv::TheFrameClock().Init(100);
    return player_->Update() != 0 && !player_->LoadFailed();
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

}  // namespace

int RunRender(int argc, char** argv) {
  const char* file = nullptr;
  std::string patternText;
  bool havePattern = false, haveRange = false, paused = false;
  std::uint32_t from = 0, to = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc) return RenderUsage("-o needs a PATTERN");
      patternText = argv[++i];
      havePattern = true;
    } else if (arg == "--frames") {
      if (i + 1 >= argc || !ParseFrameRange(argv[i + 1], &from, &to)) {
        return RenderUsage("--frames needs a range A-B with A <= B");
      }
      ++i;
      haveRange = true;
    } else if (arg == "--paused") {
      paused = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return RenderUsage("unknown option " + arg);
    } else if (file == nullptr) {
      file = argv[i];
    } else {
      return RenderUsage("only one FILE");
    }
  }
  if (file == nullptr) return RenderUsage("no FILE");
  if (!havePattern) return RenderUsage("no -o PATTERN");
  NamePattern pattern;
  std::string problem;
  if (!ParsePattern(patternText.c_str(), &pattern, &problem)) return RenderUsage(problem);
  if (std::strlen(file) >= sizeof(kiv::AnimationPath)) {
    std::fprintf(stderr, "kivtool: %s: path too long\n", file);
    return kExitUsage;
  }

  if (!kiv::ProbeAnimationHeader(file)) {
    std::fprintf(stderr, "kivtool: %s: not a KIV animation or a corrupt one\n", file);
    return kExitFinding;
  }
  std::strcpy(kiv::AnimationPath, file);

  OffscreenRun run;
  if (!run.Start()) {
    std::fprintf(stderr, "kivtool: %s: the animation does not load\n", file);
    return kExitFinding;
  }
  kiv::Player& player = run.player();
  const std::uint32_t first = player.FirstFrame, last = player.LastFrame;
  if (!haveRange) {
    from = first;
    to = last;
  } else if (from < first || to > last) {
    std::fprintf(stderr, "kivtool: %s: frames %u-%u lie outside the animation's %u-%u\n", file,
                 from, to, first, last);
    return kExitUsage;
  }

  auto save = [&](std::uint32_t frame) {
    const std::string name = pattern.For(frame);
    std::string why;
    if (!WriteScreenPng(name, run.display(), &why)) {
      std::fprintf(stderr, "kivtool: %s: %s\n", name.c_str(), why.c_str());
      return false;
    }
    return true;
  };

  if (paused) {
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
    return kExitOk;
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
  const double interval = 100.0 / player.FrameRate;
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
  return kExitOk;
}

}  // namespace kivtool
