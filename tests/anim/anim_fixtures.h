// Shared helpers for the animation tests: scratch files and a set of tables
// that owns its buffers the way the Player does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "anim/animation_file.h"

namespace kiv::testing {

// Named after the running test, so that tests run in parallel never share a file.
inline std::string ScratchPath(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string owner = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "none";
  return std::string(KIV_BINARY_DIR) + "/anim_test_" + owner + "_" + name;
}

inline std::string WriteScratch(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::string path = ScratchPath(name);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file != nullptr) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  return path;
}

using OwnedTables = kiv::OwnedTables;

// Expands a chunk into a zeroed picture of `size` bytes.
inline std::vector<std::uint8_t> Expanded(FrameChunk* chunk, std::size_t size) {
  std::vector<std::uint8_t> picture(size, 0);
  if (chunk != nullptr) chunk->Decode(picture.data(), picture.size());
  return picture;
}

}  // namespace kiv::testing
