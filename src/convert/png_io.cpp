#include "convert/png_io.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kiv {
namespace {

// libpng reports errors by longjmp; its message is kept for the caller.
struct PngErrorText {
  char text[256] = "";
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<PngErrorText*>(png_get_error_ptr(png));
  std::snprintf(error->text, sizeof error->text, "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Writes go through our own function so that a failed write keeps the
// system's reason instead of libpng's "Write Error".
struct PngSink {
  std::FILE* stream;
  int errnum = 0;
};

void OnPngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  errno = 0;
  if (std::fwrite(data, 1, length, sink->stream) != length) {
    sink->errnum = errno != 0 ? errno : EIO;
    png_error(png, "write failed");
  }
}

void OnPngFlush(png_structp) {}

// Writes one PNG; the caller has set up nothing but the pixel layout.
bool WritePng(std::FILE* stream, const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
              int colourType, const std::vector<std::uint8_t>* palette, int transparentIndex,
              std::string* error) {
  PngErrorText pngError;
  PngSink sink{stream};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngError, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, &info);
    *error = "out of memory";
    return false;
  }
  png_color colours[256];
  png_byte alpha[256];
  if (palette != nullptr) {
    for (int i = 0; i < 256; ++i) {
      colours[i].red = (*palette)[3 * i];
      colours[i].green = (*palette)[3 * i + 1];
      colours[i].blue = (*palette)[3 * i + 2];
      alpha[i] = i == transparentIndex ? 0 : 255;
    }
  }
  const std::size_t rowBytes =
      static_cast<std::size_t>(width) * (colourType == PNG_COLOR_TYPE_RGB ? 3u : 1u);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    *error = sink.errnum != 0 ? std::strerror(sink.errnum) : pngError.text;
    return false;
  }
  png_set_write_fn(png, &sink, OnPngWrite, OnPngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (palette != nullptr) {
    png_set_PLTE(png, info, colours, 256);
    // tRNS may stop after the last transparent entry; the rest is opaque.
    if (transparentIndex >= 0 && transparentIndex < 256) {
      png_set_tRNS(png, info, alpha, transparentIndex + 1, nullptr);
    }
  }
  png_write_info(png, info);
  for (std::int32_t y = 0; y < height; ++y) {
    png_write_row(png, pixels + static_cast<std::size_t>(y) * rowBytes);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePalettePng(std::FILE* stream, const std::uint8_t* indices, std::int32_t width,
                     std::int32_t height, const std::vector<std::uint8_t>& palette,
                     int transparentIndex, std::string* error) {
  return WritePng(stream, indices, width, height, PNG_COLOR_TYPE_PALETTE, &palette, transparentIndex,
                  error);
}

bool WriteRgbPng(std::FILE* stream, const std::uint8_t* rgb, std::int32_t width, std::int32_t height,
                 std::string* error) {
  return WritePng(stream, rgb, width, height, PNG_COLOR_TYPE_RGB, nullptr, kNoTransparency, error);
}

namespace {

// Where a PNG is read from: a stream (read no further than the picture's
// end) or bytes.
struct PngInput {
  std::FILE* stream = nullptr;
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;

  std::size_t Take(std::uint8_t* data, std::size_t length) {
    if (stream != nullptr) return std::fread(data, 1, length, stream);
    const std::size_t n = std::min(length, bytes.size() - at);
    if (n > 0) std::memcpy(data, bytes.data() + at, n);
    at += n;
    return n;
  }
};

void OnPngRead(png_structp png, png_bytep data, png_size_t length) {
  auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
  if (input->Take(data, length) != length) png_error(png, "the picture ends early");
}

std::string SizeText(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Reads a palette picture as indices with its palette (entries past the PLTE
// are opaque black), anything else as 8-bit RGBA; the bytes per pixel.
std::size_t SetUpTransforms(png_structp png, png_infop info, Picture* picture) {
  const int colourType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  picture->indexed = colourType == PNG_COLOR_TYPE_PALETTE;
  if (!picture->indexed) {
    if (bitDepth == 16) png_set_scale_16(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    const bool keyed = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (keyed) png_set_tRNS_to_alpha(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if ((colourType & PNG_COLOR_MASK_ALPHA) == 0 && !keyed) png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    return 4;
  }
  if (bitDepth < 8) png_set_packing(png);
  png_colorp colours = nullptr;
  int count = 0;
  png_get_PLTE(png, info, &colours, &count);
  png_bytep alpha = nullptr;
  int alphaCount = 0;
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
  picture->palette.assign(4 * 256, 0);
  for (int i = 0; i < 256; ++i) {
    std::uint8_t* entry = &picture->palette[4 * static_cast<std::size_t>(i)];
    if (i < count) {
      entry[0] = colours[i].red;
      entry[1] = colours[i].green;
      entry[2] = colours[i].blue;
    }
    entry[3] = i < alphaCount ? alpha[i] : 255;
  }
  return 1;
}

ReadStatus ReadPngFrom(PngInput& input, const PictureLimits& limits, Picture* picture,
                       std::string* error) {
  png_byte signature[8];
  const std::size_t got = input.Take(signature, sizeof signature);
  if (got == 0) return ReadStatus::kEnd;
  if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
    *error = "not a PNG file";
    return ReadStatus::kError;
  }
  // A local changed between setjmp and the jump back is indeterminate after
  // it, so what changes there (the error text, our refusal, the row
  // pointers) lives on the heap, behind a pointer that stays as it is.
  struct ReadState : PngErrorText {
    std::vector<png_bytep> rows;
    std::string refusal;
  };
  const auto state = std::make_unique<ReadState>();
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state.get(), OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = "out of memory";
    return ReadStatus::kError;
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = state->refusal.empty() ? std::string(state->text) : state->refusal;
    return ReadStatus::kError;
  }
  png_set_read_fn(png, &input, OnPngRead);
  // Only the pixels, the palette and its transparency are read; every other
  // chunk is skipped unread. libpng would otherwise allocate and clear a
  // buffer of a text or profile chunk's stated length before reading it: a
  // few bytes claiming a 2 GB text chunk would cost 2 GB and seconds before
  // the file is found to end.
  static constexpr png_byte kTransparency[] = {'t', 'R', 'N', 'S', '\0'};
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kTransparency, 1);
  png_set_sig_bytes(png, sizeof signature);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  // The size is checked before anything is allocated for the pixels.
  if (static_cast<std::int64_t>(width) * height > limits.maxPixels) {
    state->refusal = "is " + SizeText(width, height) + ", more than the " + std::to_string(limits.maxPixels) +
              " pixels a frame holds";
    png_error(png, "too large");
  }
  if (limits.width != 0 && (static_cast<std::int64_t>(width) != limits.width ||
                            static_cast<std::int64_t>(height) != limits.height)) {
    state->refusal = "is " + SizeText(width, height) + ", the first picture " +
              SizeText(limits.width, limits.height);
    png_error(png, "wrong size");
  }
  const std::size_t channels = SetUpTransforms(png, info, picture);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != width * channels) png_error(png, "unsupported PNG layout");
  std::vector<std::uint8_t>& target = picture->indexed ? picture->indices : picture->rgba;
  target.resize(rowBytes * height);
  state->rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) state->rows[y] = target.data() + y * rowBytes;
  png_read_image(png, state->rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  picture->width = static_cast<std::int32_t>(width);
  picture->height = static_cast<std::int32_t>(height);
  if (picture->indexed) {
    const std::size_t pixels = picture->indices.size();
    picture->rgba.resize(4 * pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
      std::memcpy(&picture->rgba[4 * i], &picture->palette[4 * static_cast<std::size_t>(picture->indices[i])], 4);
    }
  }
  return ReadStatus::kPicture;
}

}  // namespace

ReadStatus ReadPng(std::FILE* stream, const PictureLimits& limits, Picture* picture, std::string* error) {
  PngInput input;
  input.stream = stream;
  const ReadStatus status = ReadPngFrom(input, limits, picture, error);
  if (status == ReadStatus::kError && std::ferror(stream) != 0) *error = std::strerror(errno != 0 ? errno : EIO);
  return status;
}

ReadStatus ReadPngFromMemory(std::span<const std::uint8_t> bytes, const PictureLimits& limits,
                             Picture* picture, std::string* error) {
  PngInput input;
  input.bytes = bytes;
  return ReadPngFrom(input, limits, picture, error);
}

bool DecodePngRgba(const std::uint8_t* bytes, std::size_t size, std::int32_t* width, std::int32_t* height,
                   std::vector<std::uint8_t>* rgba) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes, size)) return false;
  if (static_cast<std::int64_t>(image.width) * image.height > kMaxPicturePixels) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  rgba->resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba->data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  *width = static_cast<std::int32_t>(image.width);
  *height = static_cast<std::int32_t>(image.height);
  return true;
}

}  // namespace kiv
