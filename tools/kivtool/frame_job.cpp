#include "frame_job.h"

#include <cstdio>

#include "commands.h"
#include "progress.h"

namespace kivtool {

int PrepareFrameJob(const std::string& command, const std::string& file, const std::string& frames,
                    bool salvage, FrameJob* job) {
  if (!frames.empty() && !ParseFrameRange(frames, &job->range)) {
    return UsageError(command + ": --frames needs a range A-B of frame numbers with A <= B");
  }
  const char* path = file.c_str();
  LoadedAnimation& animation = job->animation;
  if (const int status = salvage ? SalvageOrReport(animation, path) : LoadOrReport(animation, path);
      status >= 0) {
    return status;
  }
  if (frames.empty()) {
    job->range = {animation.first(), animation.last()};
  } else if (job->range.from < animation.first() || job->range.to > animation.last()) {
    Say("kivtool: %s: frames %u-%u lie outside the animation's %u-%u\n", path, job->range.from,
                 job->range.to, animation.first(), animation.last());
    return kExitUsage;
  }
  return -1;
}

}  // namespace kivtool
