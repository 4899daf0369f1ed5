// The page's conversions: a module of its own, apart from the player, that
// the page compiles only when a conversion is first asked for. It loads a
// file as kivtool does and gives its frames as pictures of palette indices,
// an animated GIF as kivtool export makes it, and thumbnails as kivtool
// thumbnail makes them. The page calls it one step at a time from a worker.
#include <emscripten.h>

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "anim/animation_writer.h"
#include "convert/colour_map.h"
#include "convert/gif_encoder.h"
#include "convert/gif_frames.h"
#include "convert/image_scale.h"
#include "convert/screen_palette.h"
#include "loaded_animation.h"

namespace {

std::unique_ptr<kivtool::LoadedAnimation> animation;
std::string message;  // a conversion's failure
std::string detail;   // a refused file's
std::vector<std::uint8_t> palette;
std::vector<std::uint8_t> picture;
std::vector<std::uint8_t> thumbnail;
kiv::Size thumbnailSize{0, 0};
kiv::GifTiming timing;
kiv::GifEncoder gif;
bool gifComposite = false;

// A KIV being made from pictures.
struct Making {
  kiv::Picture picture;  // the next picture's colours, written by the page
  kiv::ColourMapper mapper{kiv::ComputeScreenPalette()};
  std::vector<std::vector<std::uint8_t>> frames;
  std::map<std::uint32_t, std::uint32_t> delays;  // GIF delay in cs -> how many frames
  std::vector<std::uint8_t> bytes;
};
std::unique_ptr<Making> making;
std::vector<std::uint8_t> incoming;  // the next file's bytes, until kc_open

}  // namespace

extern "C" {

// Where the page writes the next file's `size` bytes before kc_open; null
// when there is not the memory.
EMSCRIPTEN_KEEPALIVE std::uint8_t* kc_file_buffer(double size) {
  animation.reset();
  try {
    incoming.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    std::vector<std::uint8_t>().swap(incoming);
    return nullptr;
  }
  return incoming.data();
}

// Loads the file written at kc_file_buffer(); the animation keeps its
// bytes. 1 when it loaded; 0 when not: kc_message() is then what the player
// says of such a file, kc_detail() where and why the loader refused it.
EMSCRIPTEN_KEEPALIVE int kc_open() {
  animation = std::make_unique<kivtool::LoadedAnimation>();
  message.clear();
  detail.clear();
  if (animation->LoadBytes(std::move(incoming))) return 1;
  const kiv::AnimationError& error = animation->error();
  detail = !animation->opened() || error.noMemory
                ? error.what
                : "offset " + std::to_string(error.offset) + ": " + error.where + ": " + error.what;
  animation.reset();
  return 0;
}

EMSCRIPTEN_KEEPALIVE const char* kc_message() { return message.empty() ? kiv::kMessageBadAnimation : message.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* kc_detail() { return detail.c_str(); }

// Lets the file and every picture go.
EMSCRIPTEN_KEEPALIVE void kc_release() {
  animation.reset();
  std::vector<std::uint8_t>().swap(picture);
  std::vector<std::uint8_t>().swap(gif.bytes());
}

EMSCRIPTEN_KEEPALIVE int kc_width() { return animation ? animation->header().width : 0; }
EMSCRIPTEN_KEEPALIVE int kc_height() { return animation ? animation->header().height : 0; }
EMSCRIPTEN_KEEPALIVE int kc_first() { return animation ? static_cast<int>(animation->first()) : 0; }
EMSCRIPTEN_KEEPALIVE int kc_count() { return animation ? static_cast<int>(animation->count()) : 0; }
EMSCRIPTEN_KEEPALIVE double kc_rate() { return animation ? animation->header().frameRate : 0.0; }

// The screen palette, 768 bytes.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* kc_palette() {
  if (palette.empty()) palette = kiv::ComputeScreenPalette();
  return palette.data();
}

// Frame first + offset as width x height indices, over the background when
// `composite`; null for a frame that is not there.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* kc_picture(int offset, int composite) {
  if (!animation || offset < 0 || offset >= kc_count()) return nullptr;
  picture.resize(animation->pictureSize());
  const auto number = animation->first() + static_cast<std::uint32_t>(offset);
  return animation->Picture(number, composite != 0, picture.data()) ? picture.data() : nullptr;
}

// The first frame over the background as RGB, shrunk by area to fit
// limit x limit; kc_thumbnail_width() and _height() give its size.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* kc_thumbnail(int limit) {
  const std::uint8_t* indices = kc_picture(0, 1);
  if (indices == nullptr || limit < 1) return nullptr;
  const std::uint8_t* colours = kc_palette();
  std::vector<std::uint8_t> rgb(picture.size() * 3);
  for (std::size_t i = 0; i < picture.size(); ++i) {
    for (std::size_t c = 0; c < 3; ++c) rgb[3 * i + c] = colours[3 * static_cast<std::size_t>(indices[i]) + c];
  }
  const kiv::Size source{animation->header().width, animation->header().height};
  thumbnailSize = kiv::FitWithin(source, limit);
  thumbnail = kiv::ScaleByArea(rgb.data(), source, thumbnailSize);
  return thumbnail.data();
}
EMSCRIPTEN_KEEPALIVE int kc_thumbnail_width() { return thumbnailSize.width; }
EMSCRIPTEN_KEEPALIVE int kc_thumbnail_height() { return thumbnailSize.height; }

// Starts a GIF of the whole animation: index 127 transparent, or every
// frame over the background when `composite`. The number of pictures to
// add with kc_gif_add (0 when the rate never advances or the file is gone).
EMSCRIPTEN_KEEPALIVE int kc_gif_begin(int composite) {
  if (!animation || !(animation->header().frameRate > 0.0f)) return 0;
  timing = kiv::PlanGifTiming(animation->count(), static_cast<double>(animation->header().frameRate));
  gifComposite = composite != 0;
  kc_palette();
  std::string error;
  if (!gif.Open(animation->header().width, animation->header().height, palette,
                gifComposite ? -1 : static_cast<int>(kiv::TransparentIndex), &error)) {
    message = error;
    return 0;
  }
  return static_cast<int>(timing.shown.size());
}

// The frames the plan left out to keep every delay at 2 cs or more.
EMSCRIPTEN_KEEPALIVE int kc_gif_dropped() { return static_cast<int>(timing.dropped); }

// Adds the plan's picture i. 1 when done.
EMSCRIPTEN_KEEPALIVE int kc_gif_add(int i) {
  if (!animation || i < 0 || static_cast<std::size_t>(i) >= timing.shown.size()) return 0;
  const kiv::GifShown& shown = timing.shown[static_cast<std::size_t>(i)];
  const std::uint8_t* indices = kc_picture(static_cast<int>(shown.index), gifComposite ? 1 : 0);
  if (indices == nullptr) return 0;
  gif.Add(indices, shown.centiseconds);
  return 1;
}

// Ends the GIF; its bytes are at the address returned, kc_gif_size() long.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* kc_gif_end() {
  gif.Close();
  return gif.bytes().data();
}
EMSCRIPTEN_KEEPALIVE int kc_gif_size() { return static_cast<int>(gif.bytes().size()); }

// Starts a KIV of width x height pictures: the address where the page puts
// each picture's colours (RGBA) before kc_create_add, or null for a size a
// file cannot hold.
EMSCRIPTEN_KEEPALIVE std::uint8_t* kc_create_begin(int width, int height) {
  making = std::make_unique<Making>();
  if (width < 1 || height < 1 || width > 65535 || height > 65535 ||
      static_cast<std::int64_t>(width) * height > kiv::kMaxPicturePixels) {
    making.reset();
    return nullptr;
  }
  making->picture.width = width;
  making->picture.height = height;
  making->picture.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  return making->picture.rgba.data();
}

// Maps the picture to screen indices as kivtool create does (the nearest
// colour, alpha below half as index 127), shown for `delay` cs. 0 when the
// file would hold too many frames.
EMSCRIPTEN_KEEPALIVE int kc_create_add(int delay) {
  if (!making || making->frames.size() >= kiv::kMaxFrames) return 0;
  making->frames.emplace_back();
  making->mapper.Map(making->picture, kiv::Dither::kNone, &making->frames.back());
  ++making->delays[static_cast<std::uint32_t>(delay)];
  return 1;
}

// The rate the delays ask for, as kivtool create takes it from a GIF.
EMSCRIPTEN_KEEPALIVE double kc_create_rate() {
  if (!making) return 0.0;
  std::uint32_t common = 0, shortest = 0, longest = 0;
  return kiv::GifRateFromDelays(making->delays, &common, &shortest, &longest);
}

// Writes the file at `rate` frames a second (version 949, repeats marked,
// as kivtool create writes it): its bytes at the address returned,
// kc_create_size() long; null with kc_message() saying why.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* kc_create_end(double rate) {
  if (!making || making->frames.empty()) return nullptr;
  kiv::AnimationWriteOptions write;
  write.markRepeats = true;
  write.width = making->picture.width;
  write.height = making->picture.height;
  write.loopEnd = static_cast<std::uint32_t>(making->frames.size()) - 1;
  write.frameRate = static_cast<float>(rate);
  if (!kiv::WriteAnimationToMemory(write, making->frames, {}, &making->bytes, &message)) return nullptr;
  making->frames.clear();
  return making->bytes.data();
}
EMSCRIPTEN_KEEPALIVE int kc_create_size() { return making ? static_cast<int>(making->bytes.size()) : 0; }
EMSCRIPTEN_KEEPALIVE void kc_create_release() { making.reset(); }

}  // extern "C"
