// Video through the ffmpeg found on PATH: kivtool starts it without a shell,
// with the exact raw-video input arguments, and writes RGB pictures into its
// standard input.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivtool {

enum class VideoContainer { kMp4, kWebm, kMatroska, kQuickTime };

// The container a name asks for (.mp4, .webm, .mkv, .mov, any case), if any.
std::optional<VideoContainer> VideoContainerOf(const std::string& path);

struct VideoSettings {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string rate;  // frames a second as written in the file ("29.97")
  bool lossless = false;
  std::vector<std::string> extra;  // --ffmpeg-args, words before the output
};

// ffmpeg's command line (without "ffmpeg") that reads rawvideo rgb24 on
// standard input and writes `output` in `container`. MP4, MKV and MOV get
// H.264 in yuv420p, whose halved chroma needs even sides: an odd width or
// height gets one black column or row added, so no picture is lost. WebM
// gets VP9. Lossless: H.264 in RGB at qp 0, or lossless VP9 in RGB.
std::vector<std::string> FfmpegArguments(VideoContainer container, const VideoSettings& settings,
                                         const std::string& output);

// True when an executable `ffmpeg` lies on PATH.
bool FfmpegOnPath();
// "ffmpeg is not on PATH; install the Debian package \"ffmpeg\"".
extern const char kNoFfmpeg[];

class FfmpegPipe {
 public:
  FfmpegPipe() = default;
  ~FfmpegPipe();  // a running ffmpeg gets end of input and is waited for
  FfmpegPipe(const FfmpegPipe&) = delete;
  FfmpegPipe& operator=(const FfmpegPipe&) = delete;

  bool Start(const std::vector<std::string>& arguments, std::string* error);
  bool Write(const std::uint8_t* bytes, std::size_t size, std::string* error);
  // Ends ffmpeg's input and waits; true when it exited with status 0.
  bool Finish(std::string* error);

 private:
  int input_ = -1;  // our end of ffmpeg's standard input
  pid_t child_ = -1;
};

}  // namespace kivtool
