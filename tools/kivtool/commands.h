// kivtool's commands. main.cpp parses the command line into these option
// records; each Run function returns the process exit status: 0 success,
// 1 a bad or damaged animation, 2 a usage or I/O error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivtool {

constexpr int kExitOk = 0;
constexpr int kExitFinding = 1;
constexpr int kExitUsage = 2;

struct InfoOptions {
  std::string file;
  bool json = false;
  bool compact = false;
  bool ffmpegInput = false;
};

struct CheckOptions {
  std::vector<std::string> files;
};

struct ExportOptions {
  std::string file;
  std::string output;
  std::string format;  // png, gif or rgb24; empty: from the output name
  bool composite = false;
  bool background = false;
  std::string frames;  // "A-B"; empty: all
  std::uint32_t startNumber = 0;
  bool salvage = false;
  bool noClobber = false;
  bool quiet = false;
};

struct RenderOptions {
  std::string file;
  std::string output;
  std::string frames;
  bool paused = false;
  bool noLayer = false;
  bool haveStartNumber = false;
  std::uint32_t startNumber = 0;
  bool salvage = false;
  bool noClobber = false;
  bool quiet = false;
};

struct CreateOptions {
  std::string output;
  float fps = 0;
  bool haveFps = false;
  std::int32_t version = 949;
  std::uint32_t first = 0;
  std::uint32_t loopStart = 0;
  bool haveLoopStart = false;
  std::uint32_t loopEnd = 0;
  bool haveLoopEnd = false;
  std::string dither = "none";
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
  std::string input;
  std::string output;
};

int RunInfo(const InfoOptions& options);
int RunCheck(const CheckOptions& options);
int RunExport(const ExportOptions& options);
int RunRender(const RenderOptions& options);
int RunCreate(const CreateOptions& options);
int RunThumbnail(const ThumbnailOptions& options);
int RunPalette(const PaletteOptions& options);

// Prints "kivtool: <message>" and the help hint to stderr; returns kExitUsage.
int UsageError(const std::string& message);

}  // namespace kivtool
