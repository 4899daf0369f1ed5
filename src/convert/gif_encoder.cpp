#include "convert/gif_encoder.h"

#include <algorithm>
#include <array>

namespace kiv {
namespace {

constexpr int kMinCodeSize = 8;
constexpr std::uint32_t kClear = 1u << kMinCodeSize;
constexpr std::uint32_t kEnd = kClear + 1;
constexpr std::uint32_t kMaxCode = 4095;

// Codes go out least significant bit first, packed into sub-blocks.
class CodeWriter {
 public:
  explicit CodeWriter(std::vector<std::uint8_t>* out) : out_(out) {}
  void Put(std::uint32_t code, int bits) {
    buffer_ |= code << used_;
    used_ += bits;
    while (used_ >= 8) {
      Byte(static_cast<std::uint8_t>(buffer_ & 0xff));
      buffer_ >>= 8;
      used_ -= 8;
    }
  }
  void Finish() {
    if (used_ > 0) Byte(static_cast<std::uint8_t>(buffer_ & 0xff));
    if (count_ > 0) Flush();
    out_->push_back(0);
  }

 private:
  void Byte(std::uint8_t byte) {
    block_[count_++] = byte;
    if (count_ == 255) Flush();
  }
  void Flush() {
    out_->push_back(static_cast<std::uint8_t>(count_));
    out_->insert(out_->end(), block_.begin(), block_.begin() + count_);
    count_ = 0;
  }

  std::vector<std::uint8_t>* out_;
  std::uint32_t buffer_ = 0;
  int used_ = 0;
  std::array<std::uint8_t, 255> block_{};
  std::size_t count_ = 0;
};

void Put16(std::vector<std::uint8_t>* out, std::uint32_t value) {
  out->push_back(static_cast<std::uint8_t>(value & 0xff));
  out->push_back(static_cast<std::uint8_t>((value >> 8) & 0xff));
}

}  // namespace

void AppendGifLzw(const std::uint8_t* indices, std::size_t count, std::vector<std::uint8_t>* out) {
  out->push_back(kMinCodeSize);
  CodeWriter writer(out);
  // The table: the code for a known string followed by one more index, by
  // (string code << 8 | index), stamped with the generation that made it so
  // that starting again costs nothing. Kept for the next picture.
  static thread_local std::vector<std::uint32_t> table;
  static thread_local std::uint32_t generation = 0;
  if (table.empty() || generation == (1u << 20) - 1) {
    table.assign(std::size_t{kMaxCode + 1} << 8, 0);
    generation = 0;
  }
  ++generation;
  int bits = kMinCodeSize + 1;
  std::uint32_t last = kEnd;  // the highest code given out
  writer.Put(kClear, bits);
  if (count == 0) {
    writer.Put(kEnd, bits);
    writer.Finish();
    return;
  }
  std::uint32_t current = indices[0];
  for (std::size_t i = 1; i < count; ++i) {
    const std::size_t key = (static_cast<std::size_t>(current) << 8) | indices[i];
    if (table[key] >> 12 == generation) {
      current = table[key] & kMaxCode;
      continue;
    }
    writer.Put(current, bits);
    table[key] = generation << 12 | ++last;
    // A decoder widens its codes as soon as the code it would give out
    // next no longer fits.
    if (last >= (1u << bits) && bits < 12) ++bits;
    if (last == kMaxCode) {
      // The table is full: start again.
      writer.Put(kClear, bits);
      if (++generation == 1u << 20) {
        std::fill(table.begin(), table.end(), 0u);
        generation = 1;
      }
      bits = kMinCodeSize + 1;
      last = kEnd;
    }
    current = indices[i];
  }
  writer.Put(current, bits);
  // The decoder reserves a code on reading the last one, and may widen.
  if (last + 1 >= (1u << bits) && bits < 12) ++bits;
  writer.Put(kEnd, bits);
  writer.Finish();
}

bool GifEncoder::Open(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& palette,
                      int transparentIndex, std::string* error) {
  if (width < 1 || height < 1 || width > 65535 || height > 65535) {
    *error = "a GIF holds pictures of 1 to 65535 pixels a side";
    return false;
  }
  if (palette.size() != 768) {
    *error = "a GIF colour map here has 256 colours";
    return false;
  }
  transparent_ = transparentIndex;
  frames_.Start(width, height, transparentIndex);
  bytes_.assign({'G', 'I', 'F', '8', '9', 'a'});
  Put16(&bytes_, static_cast<std::uint32_t>(width));
  Put16(&bytes_, static_cast<std::uint32_t>(height));
  // A global colour map of 256 entries, 8 bits of colour resolution.
  bytes_.push_back(0xf7);
  bytes_.push_back(0);  // background colour
  bytes_.push_back(0);  // no aspect ratio
  bytes_.insert(bytes_.end(), palette.begin(), palette.end());
  // NETSCAPE2.0 with a loop count of 0: play forever.
  const std::uint8_t kLoop[] = {0x21, 0xff, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
  bytes_.insert(bytes_.end(), kLoop, kLoop + sizeof kLoop);
  return true;
}

bool GifEncoder::WriteFrame(const GifFrame& frame) {
  const GifRect& r = frame.rect;
  // Graphic control: disposal, transparency, delay.
  bytes_.insert(bytes_.end(), {0x21, 0xf9, 4});
  bytes_.push_back(static_cast<std::uint8_t>((frame.disposeToBackground ? 2u : 1u) << 2 | (transparent_ >= 0 ? 1u : 0u)));
  Put16(&bytes_, frame.centiseconds);
  bytes_.push_back(static_cast<std::uint8_t>(transparent_ >= 0 ? transparent_ : 0xff));
  bytes_.push_back(0);
  // The image descriptor: no local colour map, not interlaced.
  bytes_.push_back(0x2c);
  Put16(&bytes_, static_cast<std::uint32_t>(r.x0));
  Put16(&bytes_, static_cast<std::uint32_t>(r.y0));
  Put16(&bytes_, static_cast<std::uint32_t>(r.x1 - r.x0));
  Put16(&bytes_, static_cast<std::uint32_t>(r.y1 - r.y0));
  bytes_.push_back(0);
  const auto width = static_cast<std::size_t>(r.x1 - r.x0);
  rect_.resize(width * static_cast<std::size_t>(r.y1 - r.y0));
  for (std::int32_t y = r.y0; y < r.y1; ++y) {
    const std::uint8_t* row = frame.picture + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width) +
                              static_cast<std::size_t>(r.x0);
    std::copy(row, row + width, rect_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y - r.y0) * width));
  }
  AppendGifLzw(rect_.data(), rect_.size(), &bytes_);
  return true;
}

void GifEncoder::Add(const std::uint8_t* picture, std::uint32_t centiseconds) {
  frames_.Add(picture, centiseconds, [this](const GifFrame& frame) { return WriteFrame(frame); });
}

void GifEncoder::Close() {
  frames_.Finish([this](const GifFrame& frame) { return WriteFrame(frame); });
  bytes_.push_back(0x3b);
}

}  // namespace kiv
