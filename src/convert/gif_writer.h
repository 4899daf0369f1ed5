// Animated GIF output through giflib: the screen palette as the global
// colour map, looping forever, the frames as GifFrameQueue plans them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "convert/gif_frames.h"

struct GifFileType;

namespace kiv {

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

  std::uint32_t framesWritten() const { return frames_.framesWritten(); }

 private:
  bool WriteFrame(const GifFrame& frame, std::string* error);
  bool Fail(int gifError, std::string* error);
  static int Output(GifFileType* gif, const unsigned char* data, int length);

  GifFileType* gif_ = nullptr;
  std::FILE* stream_ = nullptr;
  int transparent_ = -1;
  int writeErrno_ = 0;  // the system's reason for a failed write
  GifFrameQueue frames_;
};

}  // namespace kiv
