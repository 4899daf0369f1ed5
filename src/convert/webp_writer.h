// Lossless animated WebP through libwebp's animation encoder: every picture
// kept to the exact pixel (colours under transparent pixels too), looping
// forever. Frame k of an animation at `rate` frames a second starts at
// round(1000 k / rate) ms, so the delays keep the rate on average.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WebPAnimEncoder;

namespace kiv {

class WebpWriter {
 public:
  WebpWriter() = default;
  ~WebpWriter();
  WebpWriter(const WebpWriter&) = delete;
  WebpWriter& operator=(const WebpWriter&) = delete;

  // Starts an animation of `count` width x height palette pictures at
  // `rate` (above 0). transparentIndex 0 to 255 makes that index
  // transparent, kNoTransparency none. False when the timing does not fit
  // the format (a frame lasting longer than about 4.6 hours).
  bool Open(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& palette,
            int transparentIndex, std::uint32_t count, double rate, std::string* error);
  // Adds frame `index` (0 to count - 1) of the sequence. A frame that would
  // start in the same millisecond as the one before is left out (only above
  // 1000 frames a second); a picture equal to the one before lengthens it.
  bool Add(std::uint32_t index, const std::uint8_t* picture, std::string* error);
  // The whole file, ready to be written.
  bool Finish(std::vector<std::uint8_t>* file, std::string* error);

  std::uint32_t dropped() const { return dropped_; }

 private:
  std::uint64_t StartMs(std::uint32_t index) const;
  bool Fail(const char* what, std::string* error);

  WebPAnimEncoder* encoder_ = nullptr;
  std::int32_t width_ = 0, height_ = 0;
  std::vector<std::uint32_t> argb_;  // the palette as 0xAARRGGBB, 256 entries
  std::vector<std::uint32_t> pixels_;
  std::uint32_t count_ = 0;
  double rate_ = 0;
  bool haveFrame_ = false;
  std::uint64_t lastStart_ = 0;
  std::uint32_t dropped_ = 0;
};

}  // namespace kiv
