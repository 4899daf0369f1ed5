// Animated GIF output into memory with an LZW coder of our own: no library,
// so that it builds wherever C++ does (the page's WebAssembly included).
// The frames are GifFrameQueue's, as GifWriter writes them, so both decode
// to the same pictures, palette, transparency and delays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/gif_frames.h"

namespace kiv {

// LZW-compresses `count` 8-bit indices as a GIF image's data: the minimum
// code size byte, the codes in sub-blocks of up to 255 bytes, and the empty
// block that ends them, appended to out.
void AppendGifLzw(const std::uint8_t* indices, std::size_t count, std::vector<std::uint8_t>* out);

class GifEncoder {
 public:
  // Starts a GIF of width x height pictures looping forever, the 256
  // colours of palette (768 bytes) as its global colour map. transparentIndex
  // 0 to 255 marks that index transparent, below 0 none.
  bool Open(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& palette,
            int transparentIndex, std::string* error);
  // Adds a picture shown for `centiseconds`.
  void Add(const std::uint8_t* picture, std::uint32_t centiseconds);
  // Writes the last frame and the trailer; the GIF is then bytes().
  void Close();

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }
  std::uint32_t framesWritten() const { return frames_.framesWritten(); }

 private:
  bool WriteFrame(const GifFrame& frame);

  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> rect_;  // the rectangle of a frame, row after row
  int transparent_ = -1;
  GifFrameQueue frames_;
};

}  // namespace kiv
