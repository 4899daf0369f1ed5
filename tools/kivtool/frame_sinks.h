// Where written frames go: a PNG sequence, a PNG stream, raw RGB, an
// animated GIF, a lossless animated WebP or a video made by ffmpeg. Every
// sink takes width x height palette indices per frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/gif_writer.h"
#include "convert/webp_writer.h"
#include "ffmpeg_pipe.h"
#include "name_pattern.h"
#include "output_file.h"

namespace kivtool {

struct SinkPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  const std::vector<std::uint8_t>* palette = nullptr;  // 768 bytes, outlives the sink
  int transparent = -1;                                // an index, or kiv::kNoTransparency
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // number: what names the picture in a sequence, or its position in the
  // exported frames (WebP, video); centiseconds: how long it shows (GIF
  // only). On failure *where names the output at fault.
  virtual bool Write(unsigned long number, const std::uint8_t* picture, std::uint32_t centiseconds,
                     std::string* where, std::string* error) = 0;
  virtual bool Finish(std::string* where, std::string* error) = 0;
  // Removes what an unfinished sink wrote (an interrupted run); a sink's
  // temporary file goes with the sink anyway.
  virtual void Discard() {}
};

// One palette PNG per picture, named by the pattern.
class PngSequenceSink : public FrameSink {
 public:
  PngSequenceSink(NamePattern pattern, bool noClobber, SinkPicture picture)
      : pattern_(std::move(pattern)), noClobber_(noClobber), picture_(picture) {}
  bool Write(unsigned long number, const std::uint8_t* picture, std::uint32_t, std::string* where,
             std::string* error) override;
  // Writes a picture under a word in place of the number ("background").
  bool WriteNamed(const std::string& word, const std::uint8_t* picture, int transparent, std::string* where,
                  std::string* error);
  bool Finish(std::string*, std::string*) override { return true; }
  void Discard() override;

 private:
  NamePattern pattern_;
  std::vector<std::string> written_;
  bool noClobber_;
  SinkPicture picture_;
};

// Pictures one after another in one output: PNGs, or raw RGB bytes.
class StreamSink : public FrameSink {
 public:
  enum class Format { kPng, kRawRgb };
  StreamSink(Format format, SinkPicture picture) : format_(format), picture_(picture) {}
  bool Open(const std::string& path, bool noClobber, std::string* error);
  bool Write(unsigned long number, const std::uint8_t* picture, std::uint32_t, std::string* where,
             std::string* error) override;
  bool Finish(std::string* where, std::string* error) override;

 private:
  Format format_;
  SinkPicture picture_;
  OutputFile file_;
  std::string path_;
  std::vector<std::uint8_t> rgb_;  // reused for every picture
};

// An animated GIF.
class GifSink : public FrameSink {
 public:
  explicit GifSink(SinkPicture picture) : picture_(picture) {}
  bool Open(const std::string& path, bool noClobber, std::string* error);
  bool Write(unsigned long number, const std::uint8_t* picture, std::uint32_t centiseconds, std::string* where,
             std::string* error) override;
  bool Finish(std::string* where, std::string* error) override;

 private:
  SinkPicture picture_;
  OutputFile file_;
  std::string path_;
  kiv::GifWriter gif_;
};

// A lossless animated WebP of `count` frames at `rate`, written whole at Finish.
class WebpSink : public FrameSink {
 public:
  explicit WebpSink(SinkPicture picture) : picture_(picture) {}
  bool Open(const std::string& path, bool noClobber, std::uint32_t count, double rate, std::string* error);
  bool Write(unsigned long number, const std::uint8_t* picture, std::uint32_t, std::string* where,
             std::string* error) override;
  bool Finish(std::string* where, std::string* error) override;
  // Frames left out for starting in the same millisecond as the one before.
  std::uint32_t dropped() const { return webp_.dropped(); }

 private:
  SinkPicture picture_;
  OutputFile file_;
  std::string path_;
  kiv::WebpWriter webp_;
};

// A video: RGB pictures into ffmpeg, which writes the temporary file that
// is renamed into place when ffmpeg succeeds.
class VideoSink : public FrameSink {
 public:
  explicit VideoSink(SinkPicture picture) : picture_(picture) {}
  bool Open(const std::string& path, bool noClobber, VideoContainer container, const VideoSettings& settings,
            std::string* error);
  bool Write(unsigned long number, const std::uint8_t* picture, std::uint32_t, std::string* where,
             std::string* error) override;
  bool Finish(std::string* where, std::string* error) override;

 private:
  SinkPicture picture_;
  OutputFile file_;
  std::string path_;
  FfmpegPipe ffmpeg_;
  std::vector<std::uint8_t> rgb_;
};

}  // namespace kivtool
