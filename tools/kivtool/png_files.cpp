#include "png_files.h"

#include "output_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kivtool {
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

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

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

bool SavePalettePng(const std::string& path, bool noClobber, const std::uint8_t* indices,
                    std::int32_t width, std::int32_t height,
                    const std::vector<std::uint8_t>& palette, int transparentIndex,
                    std::string* error) {
  OutputFile file;
  if (!file.Open(path, noClobber, error)) return false;
  if (!WritePalettePng(file.stream(), indices, width, height, palette, transparentIndex, error)) {
    return false;  // the OutputFile removes the partial file
  }
  return file.Commit(error);
}

bool ReadPng(const char* path, PngPicture* picture, std::string* error) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    *error = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  png_byte signature[8];
  if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    *error = "not a PNG file";
    return false;
  }
  PngErrorText pngError;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &pngError, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = "out of memory";
    return false;
  }
  // Everything that outlives a longjmp is plain memory owned by `picture`.
  picture->pixels.clear();
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = pngError.text;
    return false;
  }
  png_init_io(png, file.get());
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int colourType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  picture->indexed = colourType == PNG_COLOR_TYPE_PALETTE;
  if (picture->indexed) {
    if (bitDepth < 8) png_set_packing(png);
  } else {
    if (bitDepth == 16) png_set_strip_16(png);
    if (bitDepth < 8 && colourType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (colourType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
    png_set_strip_alpha(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  const std::size_t channels = picture->indexed ? 1 : 3;
  if (width == 0 || height == 0 || width > 65535 || height > 65535 || rowBytes != width * channels) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = "unsupported PNG layout";
    return false;
  }
  picture->pixels.resize(rowBytes * height);
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = picture->pixels.data() + y * rowBytes;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  picture->width = static_cast<std::int32_t>(width);
  picture->height = static_cast<std::int32_t>(height);
  return true;
}

std::vector<std::uint8_t> NearestIndices(const std::vector<std::uint8_t>& rgb,
                                         const std::vector<std::uint8_t>& palette) {
  std::vector<std::uint8_t> indices(rgb.size() / 3);
  // Pictures repeat few colours; remember each colour's answer.
  std::vector<std::int16_t> known(1u << 24, -1);
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const int r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
    const std::size_t key = static_cast<std::size_t>(r) << 16 | static_cast<std::size_t>(g) << 8 | b;
    if (known[key] < 0) {
      int best = 0;
      long bestDistance = -1;
      for (int entry = 0; entry < 256; ++entry) {
        const long dr = r - palette[3 * entry], dg = g - palette[3 * entry + 1], db = b - palette[3 * entry + 2];
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
          bestDistance = distance;
          best = entry;
        }
      }
      known[key] = static_cast<std::int16_t>(best);
    }
    indices[i] = static_cast<std::uint8_t>(known[key]);
  }
  return indices;
}

}  // namespace kivtool
