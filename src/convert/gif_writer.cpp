#include "convert/gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "convert/png_io.h"

namespace kiv {

GifTiming PlanGifTiming(std::uint32_t count, double rate) {
  GifTiming timing;
  // Slower than one frame per 655.35 s: every delay is cut to the longest
  // (and the start times below would not fit 64 bits).
  if (100.0 / rate > kMaxGifDelay) {
    for (std::uint32_t k = 0; k < count; ++k) timing.shown.push_back({k, kMaxGifDelay});
    timing.clamped = count;
    return timing;
  }
  auto start = [rate](std::uint32_t k) {
    return static_cast<std::uint64_t>(std::llround(100.0 * k / rate));
  };
  std::vector<std::uint32_t> kept{0};
  for (std::uint32_t k = 1; k < count; ++k) {
    if (start(k) - start(kept.back()) >= kMinGifDelay) {
      kept.push_back(k);
    } else {
      ++timing.dropped;
    }
  }
  const std::uint64_t total = start(count);
  if (kept.size() > 1 && total - start(kept.back()) < kMinGifDelay) {
    kept.pop_back();
    ++timing.dropped;
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::uint64_t end = i + 1 < kept.size() ? start(kept[i + 1]) : total;
    std::uint64_t delay = std::max<std::uint64_t>(end - start(kept[i]), kMinGifDelay);
    if (delay > kMaxGifDelay) {
      delay = kMaxGifDelay;
      ++timing.clamped;
    }
    timing.shown.push_back({kept[i], static_cast<std::uint32_t>(delay)});
  }
  return timing;
}

int GifWriter::Output(GifFileType* gif, const GifByteType* data, int length) {
  auto* writer = static_cast<GifWriter*>(gif->UserData);
  errno = 0;
  const std::size_t written = std::fwrite(data, 1, static_cast<std::size_t>(length), writer->stream_);
  if (written != static_cast<std::size_t>(length) && writer->writeErrno_ == 0) {
    writer->writeErrno_ = errno != 0 ? errno : EIO;
  }
  return static_cast<int>(written);
}

void GifWriter::Rect::Include(const Rect& other) {
  if (other.empty()) return;
  if (empty()) {
    *this = other;
    return;
  }
  x0 = std::min(x0, other.x0);
  y0 = std::min(y0, other.y0);
  x1 = std::max(x1, other.x1);
  y1 = std::max(y1, other.y1);
}

GifWriter::~GifWriter() {
  if (gif_ != nullptr) EGifCloseFile(gif_, nullptr);
}

bool GifWriter::Fail(int gifError, std::string* error) {
  *error = writeErrno_ != 0 ? std::string(std::strerror(writeErrno_)) : std::string(GifErrorString(gifError));
  return false;
}

bool GifWriter::Open(std::FILE* stream, std::int32_t width, std::int32_t height,
                     const std::vector<std::uint8_t>& palette, int transparentIndex,
                     std::string* error) {
  if (width < 1 || height < 1 || width > 65535 || height > 65535) {
    *error = "a GIF holds pictures of 1 to 65535 pixels a side";
    return false;
  }
  stream_ = stream;
  width_ = width;
  height_ = height;
  transparent_ = transparentIndex;
  size_ = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  previous_.assign(size_, 0);
  pending_.assign(size_, 0);
  int gifError = 0;
  gif_ = EGifOpen(this, Output, &gifError);
  if (gif_ == nullptr) return Fail(gifError, error);
  EGifSetGifVersion(gif_, true);
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) {
    colours[i].Red = palette[3 * i];
    colours[i].Green = palette[3 * i + 1];
    colours[i].Blue = palette[3 * i + 2];
  }
  ColorMapObject* map = GifMakeMapObject(256, colours);
  if (map == nullptr) {
    *error = "out of memory";
    return false;
  }
  const int screen = EGifPutScreenDesc(gif_, width, height, 8, 0, map);
  GifFreeMapObject(map);
  if (screen == GIF_ERROR) return Fail(gif_->Error, error);
  // NETSCAPE2.0 with a loop count of 0: play forever.
  static const GifByteType kApplication[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  static const GifByteType kLoopForever[] = {1, 0, 0};
  if (EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
      EGifPutExtensionBlock(gif_, sizeof kApplication, kApplication) == GIF_ERROR ||
      EGifPutExtensionBlock(gif_, sizeof kLoopForever, kLoopForever) == GIF_ERROR ||
      EGifPutExtensionTrailer(gif_) == GIF_ERROR) {
    return Fail(gif_->Error, error);
  }
  return true;
}

GifWriter::Rect GifWriter::Changed(const std::uint8_t* before, const std::uint8_t* after) const {
  Rect rect;
  const auto width = static_cast<std::size_t>(width_);
  for (std::int32_t y = 0; y < height_; ++y) {
    const std::uint8_t* a = before + static_cast<std::size_t>(y) * width;
    const std::uint8_t* b = after + static_cast<std::size_t>(y) * width;
    if (std::memcmp(a, b, width) == 0) continue;
    std::int32_t left = 0, right = width_;
    while (a[left] == b[left]) ++left;
    while (a[right - 1] == b[right - 1]) --right;
    rect.Include({left, y, right, y + 1});
  }
  return rect;
}

GifWriter::Rect GifWriter::Holes(const std::uint8_t* before, const std::uint8_t* after) const {
  Rect rect;
  const auto t = static_cast<std::uint8_t>(transparent_);
  for (std::int32_t y = 0; y < height_; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    for (std::int32_t x = 0; x < width_; ++x) {
      if (after[row + x] == t && before[row + x] != t) rect.Include({x, y, x + 1, y + 1});
    }
  }
  return rect;
}

bool GifWriter::Add(const std::uint8_t* picture, std::uint32_t centiseconds, std::string* error) {
  if (havePending_ && std::memcmp(picture, pending_.data(), size_) == 0) {
    pendingDelay_ = std::min<std::uint32_t>(pendingDelay_ + centiseconds, kMaxGifDelay);
    return true;
  }
  if (havePending_ && !WritePending(picture, error)) return false;
  std::memcpy(pending_.data(), picture, size_);
  pendingDelay_ = centiseconds;
  havePending_ = true;
  return true;
}

// Writes the waiting picture. Drawing over the canvas cannot make a pixel
// transparent again, so when the next picture opens a hole (the transparent
// index where this one has a colour), this frame also covers the hole and is
// disposed to transparent after its delay; the next frame then redraws that
// area.
bool GifWriter::WritePending(const std::uint8_t* next, std::string* error) {
  Rect rect;
  if (!havePrevious_) {
    rect = {0, 0, width_, height_};
  } else {
    rect = Changed(previous_.data(), pending_.data());
    rect.Include(cleared_);
    // Unchanged: only the delay matters; a 1x1 frame carries it.
    if (rect.empty()) rect = {0, 0, 1, 1};
  }
  int disposal = DISPOSE_DO_NOT;
  cleared_ = Rect();
  if (transparent_ >= 0 && next != nullptr) {
    const Rect holes = Holes(pending_.data(), next);
    if (!holes.empty()) {
      rect.Include(holes);
      disposal = DISPOSE_BACKGROUND;
      cleared_ = rect;
    }
  }
  GraphicsControlBlock control{};
  control.DisposalMode = disposal;
  control.UserInputFlag = false;
  control.DelayTime = static_cast<int>(pendingDelay_);
  control.TransparentColor = transparent_ >= 0 ? transparent_ : NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension) == GIF_ERROR ||
      EGifPutImageDesc(gif_, rect.x0, rect.y0, rect.x1 - rect.x0, rect.y1 - rect.y0, false, nullptr) ==
          GIF_ERROR) {
    return Fail(gif_->Error, error);
  }
  for (std::int32_t y = rect.y0; y < rect.y1; ++y) {
    GifPixelType* row = pending_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                        static_cast<std::size_t>(rect.x0);
    if (EGifPutLine(gif_, row, rect.x1 - rect.x0) == GIF_ERROR) return Fail(gif_->Error, error);
  }
  if (writeErrno_ != 0) return Fail(0, error);
  previous_.swap(pending_);
  havePrevious_ = true;
  havePending_ = false;
  ++framesWritten_;
  return true;
}

bool GifWriter::Close(std::string* error) {
  if (gif_ == nullptr) {
    *error = "not open";
    return false;
  }
  if (havePending_ && !WritePending(nullptr, error)) return false;
  int gifError = 0;
  const int closed = EGifCloseFile(gif_, &gifError);
  gif_ = nullptr;
  if (closed == GIF_ERROR || writeErrno_ != 0) return Fail(gifError, error);
  return true;
}

}  // namespace kiv
