// kivtool info FILE [--json]: the header and what the frames hold.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "loaded_animation.h"

namespace kivtool {
namespace {

std::string JsonString(const char* text) {
  std::string out = "\"";
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

int RunInfo(int argc, char** argv) {
  const char* path = nullptr;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return UsageError("info: unknown option");
    } else if (path != nullptr) {
      return UsageError("info: one FILE only");
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) return UsageError("info: no FILE given");
  LoadedAnimation animation;
  if (const int status = LoadOrReport(animation, path); status >= 0) return status;

  const kiv::AnimationHeader& h = animation.header();
  unsigned long long frames = 0, own = 0, compressed = 0;
  for (std::uint32_t f = animation.first(); f <= animation.last(); ++f) {
    ++frames;
    if (!animation.repeated(f)) {
      ++own;
      compressed += static_cast<unsigned long long>(animation.frame(f)->compressedSize);
    }
  }
  const unsigned long long repeated = frames - own;
  const unsigned long long expanded = frames * animation.pictureSize();
  const unsigned long long backgroundCompressed =
      static_cast<unsigned long long>(animation.background()->compressedSize);

  if (json) {
    std::printf("{\"file\": %s, \"version\": %d, \"width\": %d, \"height\": %d, \"frameRate\": %.9g, "
                "\"firstFrame\": %u, \"lastFrame\": %u, \"loopStart\": %u, \"loopEnd\": %u, "
                "\"frames\": %llu, \"ownChunks\": %llu, \"repeatedFrames\": %llu, "
                "\"compressedBytes\": %llu, \"expandedBytes\": %llu, "
                "\"backgroundCompressedBytes\": %llu, \"backgroundExpandedBytes\": %zu}\n",
                JsonString(path).c_str(), h.version, h.width, h.height, static_cast<double>(h.frameRate),
                h.firstFrame, h.lastFrame, h.loopStart, h.loopEnd, frames, own, repeated, compressed,
                expanded, backgroundCompressed, animation.pictureSize());
    return kExitOk;
  }
  std::printf("file:              %s\n", path);
  std::printf("version:           %d\n", h.version);
  std::printf("frame size:        %dx%d\n", h.width, h.height);
  std::printf("frame rate:        %.9g\n", static_cast<double>(h.frameRate));
  std::printf("first frame:       %u\n", h.firstFrame);
  std::printf("last frame:        %u\n", h.lastFrame);
  std::printf("loop start:        %u\n", h.loopStart);
  std::printf("loop end:          %u\n", h.loopEnd);
  std::printf("frames:            %llu (%llu with their own chunk, %llu repeated)\n", frames, own, repeated);
  std::printf("compressed bytes:  %llu (frames as held in memory)\n", compressed);
  std::printf("expanded bytes:    %llu (every frame at %zu bytes)\n", expanded, animation.pictureSize());
  std::printf("background:        %llu bytes compressed, %zu expanded\n", backgroundCompressed,
              animation.pictureSize());
  return kExitOk;
}

}  // namespace kivtool
