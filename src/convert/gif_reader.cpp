#include "convert/gif_reader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kiv {

GifReader::~GifReader() {
  if (gif_ != nullptr) DGifCloseFile(gif_, nullptr);
}

int GifReader::Input(GifFileType* gif, GifByteType* data, int length) {
  auto* source = static_cast<Source*>(gif->UserData);
  const std::size_t wanted = static_cast<std::size_t>(std::max(length, 0));
  if (source->stream != nullptr) return static_cast<int>(std::fread(data, 1, wanted, source->stream));
  const std::size_t n = std::min(wanted, source->bytes.size() - source->at);
  if (n > 0) std::memcpy(data, source->bytes.data() + source->at, n);
  source->at += n;
  return static_cast<int>(n);
}

bool GifReader::Fail(int gifError, std::string* error) {
  if (source_.stream != nullptr && std::ferror(source_.stream) != 0) {
    *error = std::strerror(errno != 0 ? errno : EIO);
  } else {
    const char* text = GifErrorString(gifError);
    *error = text != nullptr ? text : "not a readable GIF";
  }
  return false;
}

bool GifReader::Open(std::FILE* stream, const PictureLimits& limits, std::string* error) {
  source_ = Source{};
  source_.stream = stream;
  return Start(limits, error);
}

bool GifReader::Open(std::span<const std::uint8_t> bytes, const PictureLimits& limits, std::string* error) {
  source_ = Source{};
  source_.bytes = bytes;
  return Start(limits, error);
}

bool GifReader::Start(const PictureLimits& limits, std::string* error) {
  int gifError = 0;
  gif_ = DGifOpen(&source_, Input, &gifError);
  if (gif_ == nullptr) return Fail(gifError, error);
  width_ = gif_->SWidth;
  height_ = gif_->SHeight;
  maxPixels_ = limits.maxPixels;
  const std::string size = std::to_string(width_) + "x" + std::to_string(height_);
  if (width_ <= 0 || height_ <= 0 || static_cast<std::int64_t>(width_) * height_ > limits.maxPixels) {
    *error = "the GIF's screen is " + size + ", not 1 to " + std::to_string(limits.maxPixels) + " pixels";
    return false;
  }
  if (limits.width != 0 && (width_ != limits.width || height_ != limits.height)) {
    *error = "is " + size + ", the first picture " + std::to_string(limits.width) + "x" +
             std::to_string(limits.height);
    return false;
  }
  canvas_.assign(4 * static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
  disposal_ = DISPOSAL_UNSPECIFIED;
  return true;
}

// Leaves the canvas as the frame shown last asks before the next is drawn.
void GifReader::Dispose() {
  if (disposal_ == DISPOSE_BACKGROUND) {
    for (std::int32_t y = top_; y < bottom_; ++y) {
      std::uint8_t* row = &canvas_[4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                                        static_cast<std::size_t>(left_))];
      std::fill(row, row + 4 * static_cast<std::size_t>(right_ - left_), 0);
    }
  } else if (disposal_ == DISPOSE_PREVIOUS && saved_.size() == canvas_.size()) {
    canvas_ = saved_;
  }
  disposal_ = DISPOSAL_UNSPECIFIED;
}

// Draws the frame just described onto the canvas, clipped to it; false when
// the frame's lines cannot be read.
bool GifReader::DrawFrame(const GraphicsControlBlock& control, const ColorMapObject* map, std::string* error) {
  const GifImageDesc& image = gif_->Image;
  line_.resize(static_cast<std::size_t>(image.Width));
  // Interlaced rows come in four passes: every 8th from 0, every 8th from
  // 4, every 4th from 2, every 2nd from 1.
  static constexpr int kStart[4] = {0, 4, 2, 1};
  static constexpr int kStep[4] = {8, 8, 4, 2};
  const int passes = image.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = image.Interlace ? kStart[pass] : 0;
    const int step = image.Interlace ? kStep[pass] : 1;
    for (int row = start; row < image.Height; row += step) {
      if (image.Width > 0 && DGifGetLine(gif_, line_.data(), image.Width) == GIF_ERROR) {
        Fail(gif_->Error, error);
        return false;
      }
      const std::int64_t y = static_cast<std::int64_t>(image.Top) + row;
      if (y >= height_) continue;
      for (int x = 0; x < image.Width; ++x) {
        const std::int64_t column = static_cast<std::int64_t>(image.Left) + x;
        const int value = line_[static_cast<std::size_t>(x)];
        if (column >= width_ || value == control.TransparentColor) continue;
        std::uint8_t* pixel = &canvas_[4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                                            static_cast<std::size_t>(column))];
        // An index past the colour table shows black.
        const GifColorType colour = value < map->ColorCount ? map->Colors[value] : GifColorType{0, 0, 0};
        pixel[0] = colour.Red;
        pixel[1] = colour.Green;
        pixel[2] = colour.Blue;
        pixel[3] = 255;
      }
    }
  }
  disposal_ = control.DisposalMode;
  left_ = std::min<std::int32_t>(image.Left, width_);
  top_ = std::min<std::int32_t>(image.Top, height_);
  right_ = static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(image.Left) + image.Width, width_));
  bottom_ = static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(image.Top) + image.Height, height_));
  return true;
}

ReadStatus GifReader::Next(Picture* picture, std::uint32_t* centiseconds, std::string* error) {
  if (gif_ == nullptr) {
    *error = "not open";
    return ReadStatus::kError;
  }
  GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif_, &type) == GIF_ERROR) {
      Fail(gif_->Error, error);
      return ReadStatus::kError;
    }
    if (type == TERMINATE_RECORD_TYPE) return ReadStatus::kEnd;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif_, &code, &block) == GIF_ERROR) {
        Fail(gif_->Error, error);
        return ReadStatus::kError;
      }
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        DGifExtensionToGCB(block[0], block + 1, &control);
      }
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif_, &block) == GIF_ERROR) {
          Fail(gif_->Error, error);
          return ReadStatus::kError;
        }
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif_) == GIF_ERROR) {
      Fail(gif_->Error, error);
      return ReadStatus::kError;
    }
    const GifImageDesc& image = gif_->Image;
    const ColorMapObject* map = image.ColorMap != nullptr ? image.ColorMap : gif_->SColorMap;
    if (map == nullptr) {
      *error = "a frame has no colour table";
      return ReadStatus::kError;
    }
    if (image.Width < 0 || image.Height < 0 ||
        static_cast<std::int64_t>(image.Width) * image.Height > maxPixels_) {
      *error = "a frame is larger than " + std::to_string(maxPixels_) + " pixels";
      return ReadStatus::kError;
    }
    Dispose();
    if (control.DisposalMode == DISPOSE_PREVIOUS) saved_ = canvas_;
    if (!DrawFrame(control, map, error)) return ReadStatus::kError;
    picture->width = width_;
    picture->height = height_;
    picture->indexed = false;
    picture->rgba = canvas_;
    *centiseconds = static_cast<std::uint32_t>(std::max(control.DelayTime, 0));
    return ReadStatus::kPicture;
  }
}

}  // namespace kiv
