// kivtool info FILE [--json [--compact]] [--ffmpeg-input]: the header and
// what the frames hold; on a damaged file, what could be read and where the
// damage starts (exit 1).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "json_text.h"
#include "loaded_animation.h"

namespace kivtool {
namespace {

// JSON members in order, values already in JSON form.
class JsonObject {
 public:
  void Add(const std::string& key, std::string value) { members_.emplace_back(key, std::move(value)); }
  void Add(const std::string& key, unsigned long long value) { Add(key, std::to_string(value)); }

  // Pretty-printed with four spaces, as ffprobe does, or on one line.
  std::string Text(bool compact, int indent = 0) const {
    const std::string pad(static_cast<std::size_t>(indent + 4), ' ');
    const std::string closePad(static_cast<std::size_t>(indent), ' ');
    std::string out = "{";
    for (std::size_t i = 0; i < members_.size(); ++i) {
      out += i == 0 ? "" : ",";
      out += compact ? (i == 0 ? "" : " ") : "\n" + pad;
      out += JsonString(members_[i].first) + ": " + members_[i].second;
    }
    out += compact ? "}" : "\n" + closePad + "}";
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

// Seconds to the microsecond, as ffprobe gives durations, without trailing zeros.
std::string Seconds(double value) {
  char text[512];  // room for the largest double in full
  std::snprintf(text, sizeof text, "%.6f", value);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out;
}

std::string Hex(std::int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

int RunInfo(const InfoOptions& options) {
  const char* path = options.file.c_str();
  LoadedAnimation animation;
  if (!animation.Salvage(path)) {
    // Without a sound header there is nothing to describe.
    if (!animation.opened()) {
      ReportIoError(path, animation.error().what);
      return kExitUsage;
    }
    if (!animation.headerRead()) {
      ReportRefusal(path, animation.error());
      return kExitFinding;
    }
  }
  const bool loaded = animation.background() != nullptr && animation.error().where.empty();
  const bool damaged = !loaded;
  const kiv::AnimationHeader& h = animation.header();

  if (options.ffmpegInput) {
    if (damaged) {
      ReportRefusal(path, animation.error());
      return kExitFinding;
    }
    if (!(h.frameRate > 0.0f)) {
      ReportIoError(path, "frame rate 0: a video needs a rate above 0");
      return kExitFinding;
    }
    std::printf("-f rawvideo -pixel_format rgb24 -video_size %dx%d -framerate %s -i -\n", h.width,
                h.height, ShortestDecimal(h.frameRate).c_str());
    return kExitOk;
  }

  const unsigned long long frames = animation.count();
  unsigned long long own = 0, compressed = 0;
  for (std::uint32_t f = animation.first(); f <= animation.last(); ++f) {
    if (!animation.repeated(f) && animation.frame(f) != nullptr) {
      ++own;
      compressed += static_cast<unsigned long long>(animation.frame(f)->compressedSize);
    }
  }
  unsigned long long repeated = 0;
  for (std::uint32_t f = animation.first(); f <= animation.last(); ++f) repeated += animation.repeated(f) ? 1 : 0;
  const unsigned long long picture = animation.pictureSize();
  const unsigned long long backgroundCompressed =
      animation.background() != nullptr ? static_cast<unsigned long long>(animation.background()->compressedSize) : 0;
  const bool hasDuration = h.frameRate > 0.0f;
  const double duration = hasDuration ? static_cast<double>(frames) / static_cast<double>(h.frameRate) : 0.0;
  const kiv::AnimationError& damage = animation.error();

  if (options.json) {
    JsonObject object;
    object.Add("file", JsonString(options.file));
    object.Add("fileSize", animation.fileSize());
    object.Add("version", std::to_string(h.version));
    object.Add("width", std::to_string(h.width));
    object.Add("height", std::to_string(h.height));
    object.Add("frameRate", ShortestDecimal(h.frameRate));
    object.Add("duration", hasDuration ? Seconds(duration) : "null");
    object.Add("firstFrame", h.firstFrame);
    object.Add("lastFrame", h.lastFrame);
    object.Add("loopStart", h.loopStart);
    object.Add("loopEnd", h.loopEnd);
    object.Add("frames", frames);
    object.Add("ownChunks", own);
    object.Add("repeatedFrames", repeated);
    object.Add("compressedBytes", compressed);
    object.Add("expandedBytes", frames * picture);
    object.Add("backgroundCompressedBytes", backgroundCompressed);
    object.Add("backgroundExpandedBytes", picture);
    if (damaged) {
      object.Add("readableFrames", animation.readableFrames());
      JsonObject where;
      where.Add("offset", static_cast<unsigned long long>(damage.offset));
      where.Add("where", JsonString(damage.where));
      where.Add("what", JsonString(damage.what));
      object.Add("damage", where.Text(options.compact, 4));
    }
    std::printf("%s\n", object.Text(options.compact).c_str());
  } else {
    std::printf("file:              %s\n", path);
    std::printf("file size:         %llu bytes\n", static_cast<unsigned long long>(animation.fileSize()));
    std::printf("version:           %d\n", h.version);
    std::printf("frame size:        %dx%d\n", h.width, h.height);
    std::printf("frame rate:        %s\n", ShortestDecimal(h.frameRate).c_str());
    std::printf("duration:          %s\n", hasDuration ? (Seconds(duration) + " s").c_str() : "none (frame rate 0)");
    std::printf("first frame:       %u\n", h.firstFrame);
    std::printf("last frame:        %u\n", h.lastFrame);
    std::printf("loop start:        %u\n", h.loopStart);
    std::printf("loop end:          %u\n", h.loopEnd);
    if (damaged) {
      std::printf("readable frames:   %u of %llu\n", animation.readableFrames(), frames);
      std::printf("damage starts:     offset %s (%lld): %s: %s\n", Hex(damage.offset).c_str(),
                  static_cast<long long>(damage.offset), damage.where.c_str(), damage.what.c_str());
    } else {
      std::printf("frames:            %llu (%llu with their own chunk, %llu repeated)\n", frames, own, repeated);
      std::printf("compressed bytes:  %llu (frames as held in memory)\n", compressed);
      std::printf("expanded bytes:    %llu (every frame at %llu bytes)\n", frames * picture, picture);
      std::printf("background:        %llu bytes compressed, %llu expanded\n", backgroundCompressed, picture);
    }
  }
  if (damaged) {
    ReportRefusal(path, damage);
    return kExitFinding;
  }
  return kExitOk;
}

Command AddInfoCommand(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = app.add_subcommand("info", "print the header and the frame statistics");
  command->add_option("FILE", options->file, "the animation")->required();
  CLI::Option* json = command->add_flag("--json", options->json, "JSON, pretty-printed");
  command->add_flag("--compact", options->compact, "JSON on one line")->needs(json);
  command->add_flag("--ffmpeg-input", options->ffmpegInput,
                    "print the ffmpeg input arguments for `export --format rgb24 -o -`");
  command->footer("A damaged file: what could be read and where the damage starts, exit 1.\n");
  return {command, [options] { return RunInfo(*options); }};
}

}  // namespace kivtool
