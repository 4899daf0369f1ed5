// Animated GIF output through giflib: the screen palette as the global
// colour map, looping forever, repeated pictures merged into one longer
// frame and only the changed rectangle stored per frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>


struct GifFileType;

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

class GifWriter {
 public:
  GifWriter() = default;
  ~GifWriter();
  GifWriter(const GifWriter&) = delete;
  GifWriter& operator=(const GifWriter&) = delete;

  // Starts a GIF of width x height pictures on stream. transparentIndex 0 to
  // 255 marks that index transparent, kNoTransparency none.
  bool Open(std::FILE* stream, std::int32_t width, std::int32_t height,
            const std::vector<std::uint8_t>& palette, int transparentIndex, std::string* error);
  // Adds a picture shown for `centiseconds`; a picture equal to the one
  // before only lengthens it.
  bool Add(const std::uint8_t* picture, std::uint32_t centiseconds, std::string* error);
  // Writes the last frame and the trailer.
  bool Close(std::string* error);

  std::uint32_t framesWritten() const { return framesWritten_; }

 private:
  struct Rect {
    std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open; empty when x0 >= x1
    bool empty() const { return x0 >= x1 || y0 >= y1; }
    void Include(const Rect& other);
  };
  Rect Changed(const std::uint8_t* before, const std::uint8_t* after) const;
  Rect Holes(const std::uint8_t* before, const std::uint8_t* after) const;
  bool WritePending(const std::uint8_t* next, std::string* error);
  bool Fail(int gifError, std::string* error);
  static int Output(GifFileType* gif, const unsigned char* data, int length);

  GifFileType* gif_ = nullptr;
  std::int32_t width_ = 0, height_ = 0;
  int transparent_ = -1;
  std::FILE* stream_ = nullptr;
  int writeErrno_ = 0;  // the system's reason for a failed write
  std::size_t size_ = 0;
  std::vector<std::uint8_t> previous_;  // the picture on the canvas
  std::vector<std::uint8_t> pending_;   // the picture waiting for its delay
  bool havePrevious_ = false, havePending_ = false;
  std::uint32_t pendingDelay_ = 0;
  Rect cleared_;  // the area the last frame written gives back to transparent
  std::uint32_t framesWritten_ = 0;
};

}  // namespace kiv
