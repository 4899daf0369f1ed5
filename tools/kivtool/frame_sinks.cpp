#include "frame_sinks.h"

#include <cerrno>
#include <cstdio>

#include "convert/png_io.h"

namespace kivtool {

bool PngSequenceSink::Write(unsigned long number, const std::uint8_t* picture, std::uint32_t, std::string* where,
                            std::string* error) {
  *where = pattern_.For(number);
  return SavePalettePng(*where, noClobber_, picture, picture_.width, picture_.height, *picture_.palette,
                        picture_.transparent, error);
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
  const std::size_t size = static_cast<std::size_t>(picture_.width) * static_cast<std::size_t>(picture_.height);
  rgb_.resize(3 * size);
  const std::vector<std::uint8_t>& palette = *picture_.palette;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t* colour = &palette[3 * static_cast<std::size_t>(picture[i])];
    rgb_[3 * i] = colour[0];
    rgb_[3 * i + 1] = colour[1];
    rgb_[3 * i + 2] = colour[2];
  }
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

}  // namespace kivtool
