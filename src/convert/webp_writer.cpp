#include "convert/webp_writer.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <climits>
#include <cmath>

namespace kiv {

WebpWriter::~WebpWriter() {
  if (encoder_ != nullptr) WebPAnimEncoderDelete(encoder_);
}

std::uint64_t WebpWriter::StartMs(std::uint32_t index) const {
  return static_cast<std::uint64_t>(std::llround(1000.0 * index / rate_));
}

bool WebpWriter::Fail(const char* what, std::string* error) {
  const char* detail = encoder_ != nullptr ? WebPAnimEncoderGetError(encoder_) : nullptr;
  *error = std::string(what) + (detail != nullptr && *detail != '\0' ? std::string(": ") + detail : "");
  return false;
}

bool WebpWriter::Open(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& palette,
                      int transparentIndex, std::uint32_t count, double rate, std::string* error) {
  width_ = width;
  height_ = height;
  count_ = count;
  rate_ = rate;
  // libwebp counts time in an int of milliseconds.
  if (!(rate > 0.0) || 1000.0 * count / rate > static_cast<double>(INT_MAX)) {
    *error = "the frame rate is too low for a WebP (it counts at most 24.8 days)";
    return false;
  }
  argb_.resize(256);
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint32_t alpha = static_cast<int>(i) == transparentIndex ? 0u : 0xffu;
    argb_[i] = alpha << 24 | std::uint32_t{palette[3 * i]} << 16 | std::uint32_t{palette[3 * i + 1]} << 8 |
               palette[3 * i + 2];
  }
  pixels_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  WebPAnimEncoderOptions options;
  if (!WebPAnimEncoderOptionsInit(&options)) return Fail("libwebp version mismatch", error);
  options.anim_params.loop_count = 0;  // forever
  options.allow_mixed = 0;             // lossless only
  encoder_ = WebPAnimEncoderNew(width, height, &options);
  if (encoder_ == nullptr) return Fail("cannot start the WebP encoder", error);
  return true;
}

bool WebpWriter::Add(std::uint32_t index, const std::uint8_t* picture, std::string* error) {
  const std::uint64_t start = StartMs(index);
  if (haveFrame_ && start <= lastStart_) {
    ++dropped_;
    return true;
  }
  for (std::size_t i = 0; i < pixels_.size(); ++i) pixels_[i] = argb_[picture[i]];
  WebPConfig config;
  WebPPicture frame;
  if (!WebPConfigInit(&config) || !WebPPictureInit(&frame)) return Fail("libwebp version mismatch", error);
  config.lossless = 1;
  // Kept: the colour under a transparent pixel, which the PNGs keep too.
  // Otherwise libwebp's default effort (quality 75, method 4): lower
  // settings save little time and cost a third more bytes.
  config.exact = 1;
  frame.use_argb = 1;
  frame.width = width_;
  frame.height = height_;
  frame.argb = pixels_.data();  // borrowed: the encoder copies what it keeps
  frame.argb_stride = width_;
  const bool added = WebPAnimEncoderAdd(encoder_, &frame, static_cast<int>(start), &config) != 0;
  if (!added) return Fail("cannot encode a WebP frame", error);
  haveFrame_ = true;
  lastStart_ = start;
  return true;
}

bool WebpWriter::Finish(std::vector<std::uint8_t>* file, std::string* error) {
  std::uint64_t end = StartMs(count_);
  if (end <= lastStart_) end = lastStart_ + 1;
  if (WebPAnimEncoderAdd(encoder_, nullptr, static_cast<int>(end), nullptr) == 0) {
    return Fail("cannot end the WebP animation", error);
  }
  WebPData data;
  WebPDataInit(&data);
  if (WebPAnimEncoderAssemble(encoder_, &data) == 0) return Fail("cannot assemble the WebP file", error);
  file->assign(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  return true;
}

}  // namespace kiv
