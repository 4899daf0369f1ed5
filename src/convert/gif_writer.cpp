#include "convert/gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "convert/png_io.h"

namespace kiv {

int GifWriter::Output(GifFileType* gif, const GifByteType* data, int length) {
  auto* writer = static_cast<GifWriter*>(gif->UserData);
  errno = 0;
  const std::size_t written = std::fwrite(data, 1, static_cast<std::size_t>(length), writer->stream_);
  if (written != static_cast<std::size_t>(length) && writer->writeErrno_ == 0) {
    writer->writeErrno_ = errno != 0 ? errno : EIO;
  }
  return static_cast<int>(written);
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
  transparent_ = transparentIndex;
  frames_.Start(width, height, transparentIndex);
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

bool GifWriter::Add(const std::uint8_t* picture, std::uint32_t centiseconds, std::string* error) {
  return frames_.Add(picture, centiseconds, [this, error](const GifFrame& frame) { return WriteFrame(frame, error); });
}

bool GifWriter::WriteFrame(const GifFrame& frame, std::string* error) {
  const GifRect& rect = frame.rect;
  GraphicsControlBlock control{};
  control.DisposalMode = frame.disposeToBackground ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT;
  control.UserInputFlag = false;
  control.DelayTime = static_cast<int>(frame.centiseconds);
  control.TransparentColor = transparent_ >= 0 ? transparent_ : NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension) == GIF_ERROR ||
      EGifPutImageDesc(gif_, rect.x0, rect.y0, rect.x1 - rect.x0, rect.y1 - rect.y0, false, nullptr) ==
          GIF_ERROR) {
    return Fail(gif_->Error, error);
  }
  for (std::int32_t y = rect.y0; y < rect.y1; ++y) {
    // giflib takes the row as not const but only reads it.
    const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width) +
                           static_cast<std::size_t>(rect.x0);
    auto* row = const_cast<GifPixelType*>(frame.picture + at);
    if (EGifPutLine(gif_, row, rect.x1 - rect.x0) == GIF_ERROR) return Fail(gif_->Error, error);
  }
  if (writeErrno_ != 0) return Fail(0, error);
  return true;
}

bool GifWriter::Close(std::string* error) {
  if (gif_ == nullptr) {
    *error = "not open";
    return false;
  }
  if (!frames_.Finish([this, error](const GifFrame& frame) { return WriteFrame(frame, error); })) return false;
  int gifError = 0;
  const int closed = EGifCloseFile(gif_, &gifError);
  gif_ = nullptr;
  if (closed == GIF_ERROR || writeErrno_ != 0) return Fail(gifError, error);
  return true;
}

}  // namespace kiv
