// Writes a seed corpus of small, valid files of every version into the
// directory named on the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "anim/animation_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: animation_fuzz_seeds DIRECTORY\n");
    return 2;
  }
  const std::string directory = argv[1];
  int written = 0;
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
    std::vector<std::uint8_t> flat(size, 9), mixed(size), stripes(size);
    // Keep the 720 x 576 pictures of the older versions compressible, so
    // that each seed stays a few kilobytes long.
    const std::size_t band = size > 1000 ? 4096 : 5;
    for (std::size_t i = 0; i < size; ++i) {
      mixed[i] = static_cast<std::uint8_t>(i < 300 ? i * 37 % 251 : 7);
      stripes[i] = static_cast<std::uint8_t>(i / band % 3);
    }
    std::string error;
    const std::string path = directory + "/seed_" + std::to_string(version) + ".kiv";
    if (!kiv::WriteAnimation(path.c_str(), options, {flat, flat, mixed, stripes}, stripes, &error)) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    ++written;
  }
  std::printf("%d seeds\n", written);
  return 0;
}
