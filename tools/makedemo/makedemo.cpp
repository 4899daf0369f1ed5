// Generates the demo animation: shapes in the grey, blue and red ramps moving
// over a background that shows through palette index 127.
//
//   makedemo [--width W] [--height H] [--frames N] [--fps F] [--first N] [--noise] OUTPUT
//
// --noise fills each frame with pseudo-random pixels instead, which do not
// compress: a large file for load tests, quickly.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "anim/animation_writer.h"

namespace {

constexpr std::uint8_t kTransparent = 127;
constexpr std::uint8_t kGreyBase = 64;   // 64..127, 127 itself is the see-through index
constexpr std::uint8_t kBlueBase = 128;  // 128..191
constexpr std::uint8_t kRedBase = 192;   // 192..255
constexpr double kPi = 3.14159265358979323846;

struct Picture {
  int width;
  int height;
  std::vector<std::uint8_t> pixels;

  Picture(int w, int h, std::uint8_t fill)
      : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, fill) {}
  void Set(int x, int y, std::uint8_t value) {
    if (x >= 0 && y >= 0 && x < width && y < height) {
      pixels[static_cast<std::size_t>(y) * width + x] = value;
    }
  }
};

// Bands of grey with a lighter diagonal stripe: flat runs compress well.
Picture MakeBackground(int width, int height) {
  Picture picture(width, height, kGreyBase);
  for (int y = 0; y < height; ++y) {
    const int band = (y * 16) / height;
    for (int x = 0; x < width; ++x) {
      const bool stripe = ((x + y) / 24) % 4 == 0;
      const int level = 8 + band * 2 + (stripe ? 12 : 0);  // stays below 63
      picture.Set(x, y, static_cast<std::uint8_t>(kGreyBase + level));
    }
  }
  return picture;
}

// A disc shaded from the ramp's base in the middle to its light end at the rim.
void Disc(Picture* picture, double cx, double cy, double radius, std::uint8_t rampBase) {
  const int x0 = static_cast<int>(cx - radius), x1 = static_cast<int>(cx + radius);
  const int y0 = static_cast<int>(cy - radius), y1 = static_cast<int>(cy + radius);
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      const double d = std::hypot(x - cx, y - cy) / radius;
      if (d <= 1.0) {
        picture->Set(x, y, static_cast<std::uint8_t>(rampBase + static_cast<int>(d * 63.0)));
      }
    }
  }
}

// A square with a diagonal gradient through its ramp.
void Square(Picture* picture, int left, int top, int side, std::uint8_t rampBase) {
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      picture->Set(left + x, top + y,
                   static_cast<std::uint8_t>(rampBase + (x + y) * 63 / (2 * side - 2 + 1)));
    }
  }
}

Picture MakeFrame(int width, int height, int index, int count) {
  Picture picture(width, height, kTransparent);
  const double t = static_cast<double>(index) / count;  // one loop per animation
  const double unit = std::min(width, height) / 8.0;

  // A blue disc sweeping left and right.
  Disc(&picture, width / 2.0 + std::sin(2 * kPi * t) * (width / 2.0 - 1.5 * unit), height / 3.0,
       1.2 * unit, kBlueBase);
  // A red square circling the lower half.
  const int side = static_cast<int>(1.6 * unit);
  Square(&picture,
         static_cast<int>(width / 2.0 + std::cos(2 * kPi * t) * width / 4.0 - side / 2.0),
         static_cast<int>(height * 0.65 + std::sin(2 * kPi * t) * height / 6.0 - side / 2.0), side,
         kRedBase);
  // A grey bar running down the frame; black (0) covers the background too.
  const int barTop = static_cast<int>(t * height);
  for (int y = barTop; y < barTop + height / 40 + 1; ++y) {
    for (int x = 0; x < width / 3; ++x) picture.Set(x, y, static_cast<std::uint8_t>(kGreyBase + 20));
    for (int x = width / 3; x < width / 3 + width / 12; ++x) picture.Set(x, y, 0);
  }
  // A progress bar along the bottom edge in the blue ramp.
  const int filled = (index + 1) * width / count;
  for (int y = height - height / 30 - 1; y < height; ++y) {
    for (int x = 0; x < filled; ++x) {
      picture.Set(x, y, static_cast<std::uint8_t>(kBlueBase + 63 * x / width));
    }
  }
  return picture;
}

// Pixels from a fixed linear congruential sequence: the same file every run.
Picture MakeNoiseFrame(int width, int height, int index) {
  Picture picture(width, height, 0);
  std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(index);
  for (std::uint8_t& pixel : picture.pixels) {
    state = state * 1664525u + 1013904223u;
    pixel = static_cast<std::uint8_t>(state >> 24);
  }
  return picture;
}

bool ParseInt(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: makedemo [--width W] [--height H] [--frames N] [--fps F] [--first N] "
               "[--noise] OUTPUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long width = 640, height = 480, frames = 75, first = 0;
  double fps = 25.0;
  bool noise = false;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--width" && hasValue) {
      if (!ParseInt(argv[++i], 1, 1600, &width)) return Usage();
    } else if (arg == "--height" && hasValue) {
      if (!ParseInt(argv[++i], 1, 1200, &height)) return Usage();
    } else if (arg == "--frames" && hasValue) {
      if (!ParseInt(argv[++i], 1, 9999, &frames)) return Usage();
    } else if (arg == "--first" && hasValue) {
      if (!ParseInt(argv[++i], 0, 9998, &first)) return Usage();
    } else if (arg == "--fps" && hasValue) {
      char* end = nullptr;
      fps = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(fps >= 0.0) || fps > 1000.0) return Usage();
    } else if (arg == "--noise") {
      noise = true;
    } else if (!arg.empty() && arg[0] != '-' && output == nullptr) {
      output = argv[i];
    } else {
      return Usage();
    }
  }
  if (output == nullptr || width * height > 1920000 || first + frames - 1 > 9998) return Usage();

  const int w = static_cast<int>(width), h = static_cast<int>(height);
  std::vector<std::vector<std::uint8_t>> pictures;
  pictures.reserve(static_cast<std::size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    pictures.push_back(noise ? MakeNoiseFrame(w, h, i).pixels
                             : MakeFrame(w, h, i, static_cast<int>(frames)).pixels);
  }
  kiv::AnimationWriteOptions options;
  options.version = 949;
  options.frameRate = static_cast<float>(fps);
  options.firstFrame = static_cast<std::uint32_t>(first);
  options.loopStart = options.firstFrame;
  options.loopEnd = static_cast<std::uint32_t>(first + frames - 1);
  options.width = w;
  options.height = h;
  std::string error;
  if (!kiv::WriteAnimation(output, options, pictures, MakeBackground(w, h).pixels, &error)) {
    std::fprintf(stderr, "makedemo: %s: %s\n", output, error.c_str());
    return 1;
  }
  return 0;
}
