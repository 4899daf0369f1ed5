// What an animated GIF stores for a sequence of pictures, apart from the
// compression: the frame plan (which frames of an animation a GIF shows,
// and for how long) and, per picture, the rectangle written and how it is
// disposed. Portable: the GIF writers of every front end share it, so that
// their GIFs decode to the same frames.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace kiv {

// Browsers show a delay below 2 centiseconds as a slow 10.
constexpr std::uint32_t kMinGifDelay = 2;
constexpr std::uint32_t kMaxGifDelay = 65535;

struct GifShown {
  std::uint32_t index;         // position in the exported sequence, from 0
  std::uint32_t centiseconds;  // how long it stays
};

struct GifTiming {
  std::vector<GifShown> shown;
  std::uint32_t dropped = 0;   // frames left out to keep every delay at 2 cs or more
  std::uint32_t clamped = 0;   // delays cut to the 65535 cs a GIF can hold
};

// Which of `count` frames at `rate` frames a second a GIF shows, and for
// how long. Frame k starts at round(100 k / rate) cs, so the delays keep the
// rate on average (29.97 gives 3, 4, 3, 3, 4, ...) and the total stays within
// half a centisecond of count / rate. A frame that would start less than
// 2 cs after the one shown before it is left out; the one before stays
// longer. rate must be above 0.
GifTiming PlanGifTiming(std::uint32_t count, double rate);

// The frame rate a GIF's delays ask for, given how many frames have each
// delay in cs: the most common delay wins (0 counts as the 10 cs browsers
// show), the shorter on a tie. *common, *shortest and *longest get the
// delays as counted.
float GifRateFromDelays(const std::map<std::uint32_t, std::uint32_t>& delays, std::uint32_t* common,
                        std::uint32_t* shortest, std::uint32_t* longest);

struct GifRect {
  std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open; empty when x0 >= x1
  bool empty() const { return x0 >= x1 || y0 >= y1; }
  void Include(const GifRect& other);
};

// One frame as a GIF stores it: the rectangle of `picture` (the whole
// canvas, width x height indices) to write, shown for `centiseconds`, and
// given back to transparent afterwards when `disposeToBackground`.
struct GifFrame {
  GifRect rect;
  bool disposeToBackground = false;
  std::uint32_t centiseconds = 0;
  const std::uint8_t* picture = nullptr;
  std::int32_t width = 0;
};

// Turns pictures into GIF frames: a picture equal to the one before only
// lengthens it, and only the changed rectangle is written.
class GifFrameQueue {
 public:
  using Emit = std::function<bool(const GifFrame&)>;

  // transparentIndex 0 to 255, or below 0 for none.
  void Start(std::int32_t width, std::int32_t height, int transparentIndex);
  // Adds a picture; the one before, once known to differ, goes to emit.
  // False when emit fails.
  bool Add(const std::uint8_t* picture, std::uint32_t centiseconds, const Emit& emit);
  // The last picture to emit.
  bool Finish(const Emit& emit);
  std::uint32_t framesWritten() const { return framesWritten_; }

 private:
  GifRect Changed(const std::uint8_t* before, const std::uint8_t* after) const;
  GifRect Holes(const std::uint8_t* before, const std::uint8_t* after) const;
  bool EmitPending(const std::uint8_t* next, const Emit& emit);

  std::int32_t width_ = 0, height_ = 0;
  int transparent_ = -1;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> previous_;  // the picture on the canvas
  std::vector<std::uint8_t> pending_;   // the picture waiting for its delay
  bool havePrevious_ = false, havePending_ = false;
  std::uint32_t pendingDelay_ = 0;
  GifRect cleared_;  // the area the last frame written gives back to transparent
  std::uint32_t framesWritten_ = 0;
};

}  // namespace kiv
