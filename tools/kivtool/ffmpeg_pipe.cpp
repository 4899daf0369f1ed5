#include "ffmpeg_pipe.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output_file.h"

extern char** environ;

namespace kivtool {

const char kNoFfmpeg[] = "ffmpeg is not on PATH; install the Debian package \"ffmpeg\"";

std::optional<VideoContainer> VideoContainerOf(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "mp4") return VideoContainer::kMp4;
  if (extension == "webm") return VideoContainer::kWebm;
  if (extension == "mkv") return VideoContainer::kMatroska;
  if (extension == "mov") return VideoContainer::kQuickTime;
  return std::nullopt;
}

std::vector<std::string> FfmpegArguments(VideoContainer container, const VideoSettings& settings,
                                         const std::string& output) {
  const std::string size = std::to_string(settings.width) + "x" + std::to_string(settings.height);
  std::vector<std::string> args = {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "rawvideo",
                                   "-pixel_format", "rgb24", "-video_size", size, "-framerate", settings.rate,
                                   "-i", "pipe:0"};
  const bool webm = container == VideoContainer::kWebm;
  if (webm && settings.lossless) {
    args.insert(args.end(), {"-c:v", "libvpx-vp9", "-lossless", "1", "-pix_fmt", "gbrp", "-row-mt", "1"});
  } else if (webm) {
    args.insert(args.end(), {"-c:v", "libvpx-vp9", "-pix_fmt", "yuv420p", "-crf", "32", "-b:v", "0",
                             "-row-mt", "1", "-cpu-used", "4"});
  } else if (settings.lossless) {
    args.insert(args.end(), {"-c:v", "libx264rgb", "-qp", "0", "-pix_fmt", "rgb24"});
  } else {
    args.insert(args.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    if (settings.width % 2 != 0 || settings.height % 2 != 0) {
      args.insert(args.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"});
    }
  }
  args.insert(args.end(), settings.extra.begin(), settings.extra.end());
  // The output is a temporary name without the extension: name the muxer.
  const char* muxer = webm                                      ? "webm"
                      : container == VideoContainer::kMatroska  ? "matroska"
                      : container == VideoContainer::kQuickTime ? "mov"
                                                                : "mp4";
  args.insert(args.end(), {"-f", muxer, output});
  return args;
}

bool FfmpegOnPath() {
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string directory = end > start ? directories.substr(start, end - start) : ".";
    if (access((directory + "/ffmpeg").c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

FfmpegPipe::~FfmpegPipe() {
  std::string ignored;
  if (child_ > 0) Finish(&ignored);
}

bool FfmpegPipe::Start(const std::vector<std::string>& arguments, std::string* error) {
  // A socket, not a pipe: send() with MSG_NOSIGNAL reports a dead ffmpeg as
  // EPIPE instead of killing kivtool. Both ends close on exec, so ffmpegs
  // started side by side do not hold each other's input open.
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    *error = SystemReason(errno);
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("ffmpeg"));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
  const int spawned = posix_spawnp(&child_, "ffmpeg", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (spawned != 0) {
    close(ends[0]);
    child_ = -1;
    *error = spawned == ENOENT ? kNoFfmpeg : "cannot start ffmpeg: " + SystemReason(spawned);
    return false;
  }
  input_ = ends[0];
  return true;
}

bool FfmpegPipe::Write(const std::uint8_t* bytes, std::size_t size, std::string* error) {
  while (size > 0) {
    const ssize_t sent = send(input_, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      *error = errno == EPIPE ? "ffmpeg stopped reading" : SystemReason(errno);
      return false;
    }
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool FfmpegPipe::Finish(std::string* error) {
  if (input_ >= 0) close(input_);
  input_ = -1;
  if (child_ <= 0) {
    *error = "ffmpeg is not running";
    return false;
  }
  int status = 0;
  while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *error = WIFEXITED(status) ? "ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status))
                             : "ffmpeg was stopped by signal " + std::to_string(WTERMSIG(status));
  return false;
}

}  // namespace kivtool
