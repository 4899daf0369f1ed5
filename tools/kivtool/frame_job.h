// What every command that writes frames does first: load the file (or
// salvage it), then resolve --frames against its frame numbers.
#pragma once

#include <string>

#include "frame_range.h"
#include "loaded_animation.h"

namespace kivtool {

struct FrameJob {
  LoadedAnimation animation;
  FrameRange range;  // within first() to last()
};

// command: for messages ("export"); frames: "A-B" or empty for all. Returns
// -1 when the job is ready; otherwise the exit status, the reason reported.
int PrepareFrameJob(const std::string& command, const std::string& file, const std::string& frames,
                    bool salvage, FrameJob* job);

}  // namespace kivtool
