// kivtool's commands. Each registers its own options on its subcommand of
// the one CLI11 parser (checked and typed there, once) and hands back how to
// run it; a run returns the process exit status: 0 success, 1 a bad or
// damaged animation, 2 a usage or I/O error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "convert/colour_map.h"

namespace CLI {
class App;
}

namespace kivtool {

constexpr int kExitOk = 0;
constexpr int kExitFinding = 1;
constexpr int kExitUsage = 2;
// Work stopped by an interrupt; never the process's status (it dies of the signal).
constexpr int kExitInterrupted = 130;

struct Command {
  CLI::App* app;
  std::function<int()> run;
};

Command AddInfoCommand(CLI::App& app);
Command AddCheckCommand(CLI::App& app);
Command AddExportCommand(CLI::App& app);
Command AddRenderCommand(CLI::App& app);
Command AddCreateCommand(CLI::App& app);
Command AddPaletteCommand(CLI::App& app);
Command AddThumbnailCommand(CLI::App& app);

// -n and -q, as every command that writes files has them.
void AddQuietAndNoClobber(CLI::App* command, bool* noClobber, bool* quiet);

struct InfoOptions {
  std::vector<std::string> files;
  bool recursive = false;
  bool json = false;
  bool compact = false;
  bool ffmpegInput = false;
};

struct CheckOptions {
  std::vector<std::string> files;
  bool recursive = false;
};

struct RenderOptions {
  std::vector<std::string> files;
  std::string output;
  std::string frames;
  bool paused = false;
  bool noLayer = false;
  std::optional<std::uint32_t> startNumber;  // none: the frame number
  bool salvage = false;
  bool noClobber = false;
  bool quiet = false;
  bool recursive = false;
};

struct CreateOptions {
  std::string output;
  std::optional<float> fps;  // none: from GIF delays
  std::int32_t version = 949;
  std::uint32_t first = 0;
  std::optional<std::uint32_t> loopStart;  // none: the first frame
  std::optional<std::uint32_t> loopEnd;    // none: the last frame
  kiv::Dither dither = kiv::Dither::kNone;
  bool keepIndices = false;
  std::string background;
  std::vector<std::string> frames;  // pictures, GIFs, "-" for a PNG stream on standard input
  bool noClobber = false;
  bool quiet = false;
};

struct PaletteOptions {
  std::string output;  // .png swatch or .gpl
  bool noClobber = false;
};

struct ThumbnailOptions {
  std::uint32_t size = 256;
  std::vector<std::string> inputs;
  std::string output;  // with several inputs, %n stands for each one's name
  bool recursive = false;
};

int RunInfo(const InfoOptions& options);
int RunCheck(const CheckOptions& options);
int RunCreate(const CreateOptions& options);
int RunThumbnail(const ThumbnailOptions& options);
int RunPalette(const PaletteOptions& options);

// Prints "kivtool: <message>" and the help hint to stderr; returns kExitUsage.
int UsageError(const std::string& message);

}  // namespace kivtool
