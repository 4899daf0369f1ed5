// kivtool info FILE... [--json [--compact]] [--ffmpeg-input]: the header
// and what the frames hold; on a damaged file, what could be read and where
// the damage starts (exit 1).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "progress.h"
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

// What the frames hold, counted once for both forms.
struct FrameCounts {
  unsigned long long frames = 0, own = 0, compressed = 0, repeated = 0, picture = 0, background = 0;
  bool hasDuration = false;
  double duration = 0;
};

FrameCounts CountFrames(const LoadedAnimation& animation) {
  FrameCounts c;
  const kiv::AnimationHeader& h = animation.header();
  c.frames = animation.count();
  for (std::uint32_t f = animation.first(); f <= animation.last(); ++f) {
    c.repeated += animation.repeated(f) ? 1 : 0;
    if (!animation.repeated(f) && animation.frame(f) != nullptr) {
      ++c.own;
      c.compressed += static_cast<unsigned long long>(animation.frame(f)->compressedSize);
    }
  }
  c.picture = animation.pictureSize();
  if (animation.background() != nullptr) {
    c.background = static_cast<unsigned long long>(animation.background()->compressedSize);
  }
  c.hasDuration = h.frameRate > 0.0f;
  c.duration = c.hasDuration ? static_cast<double>(c.frames) / static_cast<double>(h.frameRate) : 0.0;
  return c;
}

std::string JsonText(const std::string& file, const LoadedAnimation& animation, bool damaged, bool compact,
                     int indent) {
  const kiv::AnimationHeader& h = animation.header();
  const FrameCounts c = CountFrames(animation);
  JsonObject object;
  object.Add("file", JsonString(file));
  object.Add("fileSize", animation.fileSize());
  object.Add("version", std::to_string(h.version));
  object.Add("width", std::to_string(h.width));
  object.Add("height", std::to_string(h.height));
  object.Add("frameRate", ShortestDecimal(h.frameRate));
  object.Add("duration", c.hasDuration ? Seconds(c.duration) : "null");
  object.Add("firstFrame", h.firstFrame);
  object.Add("lastFrame", h.lastFrame);
  object.Add("loopStart", h.loopStart);
  object.Add("loopEnd", h.loopEnd);
  object.Add("frames", c.frames);
  object.Add("ownChunks", c.own);
  object.Add("repeatedFrames", c.repeated);
  object.Add("compressedBytes", c.compressed);
  object.Add("expandedBytes", c.frames * c.picture);
  object.Add("backgroundCompressedBytes", c.background);
  object.Add("backgroundExpandedBytes", c.picture);
  if (damaged) {
    const kiv::AnimationError& damage = animation.error();
    object.Add("readableFrames", animation.readableFrames());
    JsonObject where;
    where.Add("offset", static_cast<unsigned long long>(damage.offset));
    where.Add("where", JsonString(damage.where));
    where.Add("what", JsonString(damage.what));
    object.Add("damage", where.Text(compact, indent + 4));
  }
  return object.Text(compact, indent);
}

void PrintText(const char* path, const LoadedAnimation& animation, bool damaged) {
  const kiv::AnimationHeader& h = animation.header();
  const FrameCounts c = CountFrames(animation);
  std::printf("file:              %s\n", path);
  std::printf("file size:         %llu bytes\n", static_cast<unsigned long long>(animation.fileSize()));
  std::printf("version:           %d\n", h.version);
  std::printf("frame size:        %dx%d\n", h.width, h.height);
  std::printf("frame rate:        %s\n", ShortestDecimal(h.frameRate).c_str());
  std::printf("duration:          %s\n", c.hasDuration ? (Seconds(c.duration) + " s").c_str() : "none (frame rate 0)");
  std::printf("first frame:       %u\n", h.firstFrame);
  std::printf("last frame:        %u\n", h.lastFrame);
  std::printf("loop start:        %u\n", h.loopStart);
  std::printf("loop end:          %u\n", h.loopEnd);
  if (damaged) {
    const kiv::AnimationError& damage = animation.error();
    std::printf("readable frames:   %u of %llu\n", animation.readableFrames(), c.frames);
    std::printf("damage starts:     offset %s (%lld): %s: %s\n", Hex(damage.offset).c_str(),
                static_cast<long long>(damage.offset), damage.where.c_str(), damage.what.c_str());
  } else {
    std::printf("frames:            %llu (%llu with their own chunk, %llu repeated)\n", c.frames, c.own, c.repeated);
    std::printf("compressed bytes:  %llu (frames as held in memory)\n", c.compressed);
    std::printf("expanded bytes:    %llu (every frame at %llu bytes)\n", c.frames * c.picture, c.picture);
    std::printf("background:        %llu bytes compressed, %llu expanded\n", c.background, c.picture);
  }
}

// One file described; *json gets its object when options.json. The status.
int InfoFile(const InfoOptions& options, const std::string& file, int indent, std::string* json) {
  const char* path = file.c_str();
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
  const bool damaged = animation.background() == nullptr || !animation.error().where.empty();
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
    std::printf("-f rawvideo -pixel_format rgb24 -video_size %dx%d -framerate %s -i -\n", h.width, h.height,
                ShortestDecimal(h.frameRate).c_str());
    return kExitOk;
  }
  if (options.json) {
    *json = JsonText(file, animation, damaged, options.compact, indent);
  } else {
    PrintText(path, animation, damaged);
  }
  if (damaged) {
    ReportRefusal(path, animation.error());
    return kExitFinding;
  }
  return kExitOk;
}

}  // namespace

// One file: its object (or its text). Several: a JSON array of the objects
// of the files that could be read, or the texts one after another with a
// blank line between; the status is the worst.
int RunInfo(const InfoOptions& options) {
  if (!ManyInputs(options.files)) {
    std::string json;
    const int status = InfoFile(options, options.files[0], 0, &json);
    if (!json.empty()) std::printf("%s\n", json.c_str());
    return status;
  }
  std::vector<std::string> inputs;
  if (!CollectInputsOrReport(options.files, options.recursive, &inputs)) return kExitUsage;
  int worst = kExitOk;
  std::vector<std::string> objects;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::string json;
    if (!options.json && !options.ffmpegInput && i > 0) std::printf("\n");
    worst = std::max(worst, InfoFile(options, inputs[i], options.compact ? 0 : 4, &json));
    if (!json.empty()) objects.push_back(json);
  }
  if (options.json) {
    std::string text = "[";
    for (std::size_t i = 0; i < objects.size(); ++i) {
      text += (i == 0 ? "" : ",") + std::string(options.compact ? (i == 0 ? "" : " ") : "\n    ") + objects[i];
    }
    text += options.compact || objects.empty() ? "]" : "\n]";
    std::printf("%s\n", text.c_str());
  }
  return worst;
}

Command AddInfoCommand(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = app.add_subcommand("info", "print the header and the frame statistics");
  command->add_option("FILE", options->files, "the animations: files, or directories of them")->required();
  CLI::Option* json = command->add_flag("--json", options->json, "JSON, pretty-printed");
  command->add_flag("--compact", options->compact, "JSON on one line")->needs(json);
  command->add_flag("--ffmpeg-input", options->ffmpegInput,
                    "print the ffmpeg input arguments for `export --format rgb24 -o -`");
  command->add_flag("-r,--recursive", options->recursive, "also the animations in the directories' subdirectories");
  command->footer("A damaged file: what could be read and where the damage starts, exit 1.\n");
  return {command, [options] { return RunInfo(*options); }};
}

}  // namespace kivtool
