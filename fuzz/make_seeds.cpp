// Writes the animation seed corpus into the directory named on the command
// line: small files of every version, and real-sized ones (a 9999-frame file
// of mostly repeated frames, the largest 949 picture, a few seconds of 768-wide
// legacy frames), all made by the project's own writer.
#include <cstdio>
#include <string>
#include <vector>

#include "anim/animation_file.h"
#include "anim/animation_writer.h"
#include "anim/frame_chunk.h"

namespace {

using Picture = std::vector<std::uint8_t>;

bool Save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

std::vector<std::uint8_t> Encoded(const Picture& picture) {
  kiv::FrameChunk chunk;
  chunk.Encode(picture.data(), static_cast<std::int32_t>(picture.size()));
  return {chunk.payload, chunk.payload + chunk.compressedSize};
}

// A w x h picture: a plain ground with a square of stripes at (x, y).
Picture Scene(int w, int h, int x, int y, int colour) {
  Picture picture(static_cast<std::size_t>(w) * h, static_cast<std::uint8_t>(colour));
  for (int row = y; row < y + 48 && row < h; ++row) {
    for (int col = x; col < x + 48 && col < w; ++col) {
      picture[static_cast<std::size_t>(row) * w + col] = static_cast<std::uint8_t>((row + col) % 7 + 64);
    }
  }
  return picture;
}

// A small file of each version.
bool SmallSeeds(const std::string& directory) {
  for (const int version : {909, 919, 929, 939, 949}) {
    kiv::AnimationWriteOptions options;
    options.version = version;
    options.markRepeats = true;
    options.firstFrame = version == 939 ? 3 : 0;
    if (version == 949) {
      options.width = 7;
      options.height = 5;
    }
    const std::size_t size = static_cast<std::size_t>(options.width) * options.height;
    Picture flat(size, 9), mixed(size), stripes(size);
    const std::size_t band = size > 1000 ? 4096 : 5;
    for (std::size_t i = 0; i < size; ++i) {
      mixed[i] = static_cast<std::uint8_t>(i < 300 ? i * 37 % 251 : 7);
      stripes[i] = static_cast<std::uint8_t>(i / band % 3);
    }
    std::string error;
    const std::string path = directory + "/seed_" + std::to_string(version) + ".kiv";
    if (!kiv::WriteAnimation(path.c_str(), options, {flat, flat, mixed, stripes}, stripes, &error)) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
      return false;
    }
  }
  return true;
}

// 9999 frames of 720 x 576 (the most a file holds), a new picture every
// 400 frames and repeats between: the shape of a long recorded animation.
std::vector<std::uint8_t> LongRepeats() {
  kiv::AnimationWriteOptions options;
  options.version = kiv::kVersion939;
  options.loopEnd = kiv::kLastFrameLimit;
  const std::uint32_t last = kiv::kLastFrameLimit;
  std::vector<std::int32_t> flags(last + 1, 1);
  std::vector<std::vector<std::uint8_t>> payloads;
  for (std::uint32_t f = 0; f <= last; f += 400) {
    flags[f] = 0;
    payloads.push_back(Encoded(Scene(720, 576, static_cast<int>(f / 400) * 24, 200, 3)));
  }
  return kiv::AssembleAnimation(options, last, Encoded(Scene(720, 576, 0, 0, 80)), flags, payloads);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: animation_fuzz_seeds DIRECTORY\n");
    return 2;
  }
  const std::string directory = argv[1];
  if (!SmallSeeds(directory)) return 1;
  if (!Save(directory + "/long_939.kiv", LongRepeats())) return 1;

  std::string error;
  // The largest picture a 949 file may have, moving over three frames.
  kiv::AnimationWriteOptions large;
  large.width = 1600;
  large.height = 1200;
  std::vector<Picture> frames;
  for (int k = 0; k < 3; ++k) frames.push_back(Scene(1600, 1200, 100 * k, 50 * k, 12));
  if (!kiv::WriteAnimation((directory + "/large_949.kiv").c_str(), large, frames, frames[0], &error)) {
    std::fprintf(stderr, "large_949.kiv: %s\n", error.c_str());
    return 1;
  }
  // Distinct frames of full size: a few 768-wide legacy ones, and a
  // second and a half of 929 ones. Each stays below 128 KB, beyond which
  // every copy the fuzzer makes of an input is a fresh mapping.
  for (const int version : {919, 929}) {
    kiv::AnimationWriteOptions options;
    options.version = version;
    frames.clear();
    const int count = version == 919 ? 4 : 36;
    for (int k = 0; k < count; ++k) frames.push_back(Scene(720, 576, 12 * k, 5 * k, 20 + version % 10));
    const std::string path = directory + "/moving_" + std::to_string(version) + ".kiv";
    if (!kiv::WriteAnimation(path.c_str(), options, frames, {}, &error)) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
  }
  std::printf("9 seeds\n");
  return 0;
}
