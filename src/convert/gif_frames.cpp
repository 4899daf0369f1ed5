#include "convert/gif_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

float GifRateFromDelays(const std::map<std::uint32_t, std::uint32_t>& delays, std::uint32_t* common,
                        std::uint32_t* shortest, std::uint32_t* longest) {
  std::map<std::uint32_t, std::uint32_t> shown;
  for (const auto& [delay, count] : delays) shown[delay == 0 ? 10 : delay] += count;
  *common = 10;
  std::uint32_t most = 0;
  for (const auto& [delay, count] : shown) {
    if (count > most) {
      most = count;
      *common = delay;
    }
  }
  *shortest = shown.empty() ? *common : shown.begin()->first;
  *longest = shown.empty() ? *common : shown.rbegin()->first;
  return 100.0f / static_cast<float>(*common);
}

void GifRect::Include(const GifRect& other) {
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

void GifFrameQueue::Start(std::int32_t width, std::int32_t height, int transparentIndex) {
  width_ = width;
  height_ = height;
  transparent_ = transparentIndex;
  size_ = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  previous_.assign(size_, 0);
  pending_.assign(size_, 0);
  havePrevious_ = havePending_ = false;
  pendingDelay_ = 0;
  cleared_ = GifRect();
  framesWritten_ = 0;
}

GifRect GifFrameQueue::Changed(const std::uint8_t* before, const std::uint8_t* after) const {
  GifRect rect;
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

GifRect GifFrameQueue::Holes(const std::uint8_t* before, const std::uint8_t* after) const {
  GifRect rect;
  const auto t = static_cast<std::uint8_t>(transparent_);
  for (std::int32_t y = 0; y < height_; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    for (std::int32_t x = 0; x < width_; ++x) {
      if (after[row + x] == t && before[row + x] != t) rect.Include({x, y, x + 1, y + 1});
    }
  }
  return rect;
}

bool GifFrameQueue::Add(const std::uint8_t* picture, std::uint32_t centiseconds, const Emit& emit) {
  if (havePending_ && std::memcmp(picture, pending_.data(), size_) == 0) {
    pendingDelay_ = std::min<std::uint32_t>(pendingDelay_ + centiseconds, kMaxGifDelay);
    return true;
  }
  if (havePending_ && !EmitPending(picture, emit)) return false;
  std::memcpy(pending_.data(), picture, size_);
  pendingDelay_ = centiseconds;
  havePending_ = true;
  return true;
}

// Drawing over the canvas cannot make a pixel transparent again, so when the
// next picture opens a hole (the transparent index where this one has a
// colour), this frame also covers the hole and is disposed to transparent
// after its delay; the next frame then redraws that area.
bool GifFrameQueue::EmitPending(const std::uint8_t* next, const Emit& emit) {
  GifFrame frame;
  if (!havePrevious_) {
    frame.rect = {0, 0, width_, height_};
  } else {
    frame.rect = Changed(previous_.data(), pending_.data());
    frame.rect.Include(cleared_);
    // Unchanged: only the delay matters; a 1x1 frame carries it.
    if (frame.rect.empty()) frame.rect = {0, 0, 1, 1};
  }
  cleared_ = GifRect();
  if (transparent_ >= 0 && next != nullptr) {
    const GifRect holes = Holes(pending_.data(), next);
    if (!holes.empty()) {
      frame.rect.Include(holes);
      frame.disposeToBackground = true;
      cleared_ = frame.rect;
    }
  }
  frame.centiseconds = pendingDelay_;
  frame.picture = pending_.data();
  frame.width = width_;
  if (!emit(frame)) return false;
  previous_.swap(pending_);
  havePrevious_ = true;
  havePending_ = false;
  ++framesWritten_;
  return true;
}

bool GifFrameQueue::Finish(const Emit& emit) { return !havePending_ || EmitPending(nullptr, emit); }

}  // namespace kiv
