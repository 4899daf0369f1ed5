// The page's conversions: a module of its own, apart from the player, that
// the page compiles only when a conversion is first asked for. It loads a
// file as kivtool does and gives its frames as pictures of palette indices,
// an animated GIF as kivtool export makes it, and thumbnails as kivtool
// thumbnail makes them. The page calls it one step at a time from a worker.
#include <emscripten.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
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

}  // namespace

extern "C" {

// Loads a file of the module's file system. 1 when it loaded; 0 when not:
// kc_message() is then what the player says of such a file, kc_detail()
// where and why the loader refused it.
EMSCRIPTEN_KEEPALIVE int kc_open(const char* path) {
  animation = std::make_unique<kivtool::LoadedAnimation>();
  message.clear();
  detail.clear();
  if (animation->Load(path)) return 1;
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
  if (palette.empty()) palette = kiv::ScreenPalette();
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

}  // extern "C"
