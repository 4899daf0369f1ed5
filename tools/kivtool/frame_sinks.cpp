#include "frame_sinks.h"

#include <cerrno>
#include <cstdio>

#include "convert/png_io.h"

namespace kivtool {
namespace {

// The picture's colours as RGB bytes, into *rgb.
void ToRgb(const std::uint8_t* picture, const SinkPicture& shape, std::vector<std::uint8_t>* rgb) {
  const std::size_t size = static_cast<std::size_t>(shape.width) * static_cast<std::size_t>(shape.height);
  rgb->resize(3 * size);
  const std::vector<std::uint8_t>& palette = *shape.palette;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t* colour = &palette[3 * static_cast<std::size_t>(picture[i])];
    (*rgb)[3 * i] = colour[0];
    (*rgb)[3 * i + 1] = colour[1];
    (*rgb)[3 * i + 2] = colour[2];
  }
}

}  // namespace

bool PngSequenceSink::Write(unsigned long number, const std::uint8_t* picture, std::uint32_t, std::string* where,
                            std::string* error) {
  *where = pattern_.For(number);
  if (!SavePalettePng(*where, noClobber_, picture, picture_.width, picture_.height, *picture_.palette,
                      picture_.transparent, error)) {
    return false;
  }
  written_.push_back(*where);
  return true;
}

void PngSequenceSink::Discard() {
  for (const std::string& name : written_) std::remove(name.c_str());
  written_.clear();
}

bool PngSequenceSink::WriteNamed(const std::string& word, const std::uint8_t* picture, int transparent,
                                 std::string* where, std::string* error) {
  *where = pattern_.For(word);
  return SavePalettePng(*where, noClobber_, picture, picture_.width, picture_.height, *picture_.palette,
                        transparent, error);
}

bool StreamSink::Open(const std::string& path, bool noClobber, std::string* error) {
  path_ = path;
  return file_.Open(path, noClobber, error);
}

bool StreamSink::Write(unsigned long, const std::uint8_t* picture, std::uint32_t, std::string* where,
                       std::string* error) {
  *where = path_;
  if (format_ == Format::kPng) {
    return kiv::WritePalettePng(file_.stream(), picture, picture_.width, picture_.height, *picture_.palette,
                                picture_.transparent, error);
  }
  ToRgb(picture, picture_, &rgb_);
  errno = 0;
  if (std::fwrite(rgb_.data(), 1, rgb_.size(), file_.stream()) != rgb_.size()) {
    *error = SystemReason(errno);
    return false;
  }
  return true;
}

bool StreamSink::Finish(std::string* where, std::string* error) {
  *where = path_;
  return file_.Commit(error);
}

bool GifSink::Open(const std::string& path, bool noClobber, std::string* error) {
  path_ = path;
  return file_.Open(path, noClobber, error) &&
         gif_.Open(file_.stream(), picture_.width, picture_.height, *picture_.palette, picture_.transparent, error);
}

bool GifSink::Write(unsigned long, const std::uint8_t* picture, std::uint32_t centiseconds, std::string* where,
                    std::string* error) {
  *where = path_;
  return gif_.Add(picture, centiseconds, error);
}

bool GifSink::Finish(std::string* where, std::string* error) {
  *where = path_;
  return gif_.Close(error) && file_.Commit(error);
}

bool WebpSink::Open(const std::string& path, bool noClobber, std::uint32_t count, double rate,
                    std::string* error) {
  path_ = path;
  return webp_.Open(picture_.width, picture_.height, *picture_.palette, picture_.transparent, count, rate,
                    error) &&
         file_.Open(path, noClobber, error);
}

bool WebpSink::Write(unsigned long number, const std::uint8_t* picture, std::uint32_t, std::string* where,
                     std::string* error) {
  *where = path_;
  return webp_.Add(static_cast<std::uint32_t>(number), picture, error);
}

bool WebpSink::Finish(std::string* where, std::string* error) {
  *where = path_;
  std::vector<std::uint8_t> bytes;
  if (!webp_.Finish(&bytes, error)) return false;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.stream()) != bytes.size()) file_.NoteWriteError(errno);
  return file_.Commit(error);
}

bool VideoSink::Open(const std::string& path, bool noClobber, VideoContainer container,
                     const VideoSettings& settings, std::string* error) {
  path_ = path;
  if (!file_.Open(path, noClobber, error)) return false;
  // ffmpeg writes the file under its temporary name; ours stays empty.
  const std::string target = file_.temporary().empty() ? path : file_.temporary();
  return ffmpeg_.Start(FfmpegArguments(container, settings, target), error);
}

bool VideoSink::Write(unsigned long, const std::uint8_t* picture, std::uint32_t, std::string* where,
                      std::string* error) {
  *where = path_;
  ToRgb(picture, picture_, &rgb_);
  if (ffmpeg_.Write(rgb_.data(), rgb_.size(), error)) return true;
  // ffmpeg stopped reading: its exit status tells more than the pipe.
  std::string status;
  if (!ffmpeg_.Finish(&status)) *error = status;
  return false;
}

bool VideoSink::Finish(std::string* where, std::string* error) {
  *where = path_;
  return ffmpeg_.Finish(error) && file_.Commit(error);
}

}  // namespace kivtool
