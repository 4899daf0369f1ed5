#include "resources/memory_file_system.h"

#include <gtest/gtest.h>

#include "resources/resource_manager.h"

namespace kiv {
namespace {

std::vector<std::uint8_t> Ten() { return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}; }

// Each step runs on the handle left by the one before, on a 10-byte file.
TEST(MemoryFileSystem, ReadsAndSeeksStayWithinTheFile) {
  MemoryFileSystem files;
  files.Add("a.kiv", Ten());
  FileHandle* handle = files.Open("a.kiv", "rb");
  ASSERT_NE(handle, nullptr);
  enum Op { kRead, kSeek };
  struct Step {
    Op op;
    std::int32_t a, b;     // read: item size, count; seek: offset, origin
    std::size_t result;    // items read, or the seek's result (0 for success)
    std::uint8_t first;    // the first byte delivered by a read
    std::int32_t tellAfter;
  };
  const Step steps[] = {
      {kRead, 1, 4, 4, 0, 4},
      {kRead, 4, 2, 1, 4, 10},   // one whole item and the 2 bytes of a partial one
      {kRead, 1, 1, 0, 0, 10},   // at the end
      {kSeek, 1, 2, 1, 0, 10},   // past the end: refused, position kept
      {kSeek, -11, 2, 1, 0, 10}, // before the start
      {kSeek, -3, 2, 0, 0, 7},
      {kSeek, 2, 1, 0, 0, 9},
      {kSeek, 0, 3, 1, 0, 9},    // no such origin
      {kRead, 1, 100, 1, 9, 10},
      {kSeek, 0, 0, 0, 0, 0},
      {kRead, 0, 5, 0, 0, 0},    // no item size: nothing read
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& s = steps[i];
    std::uint8_t buffer[16] = {};
    const std::size_t result = s.op == kRead ? files.Read(buffer, s.a, s.b, handle)
                                             : static_cast<std::size_t>(files.Seek(handle, s.a, s.b) != 0);
    EXPECT_EQ(result, s.result) << "step " << i;
    if (s.op == kRead && s.result != 0) {
      EXPECT_EQ(buffer[0], s.first) << "step " << i;
    }
    EXPECT_EQ(files.Tell(handle), s.tellAfter) << "step " << i;
  }
  const std::uint8_t byte = 1;
  EXPECT_EQ(files.Write(&byte, 1, 1, handle), 0u);
  EXPECT_EQ(files.Close(handle), 0);
  EXPECT_EQ(files.Close(handle), -1);
  EXPECT_EQ(files.Tell(handle), -1);
  EXPECT_EQ(files.Seek(handle, 0, 0), -1);
  std::uint8_t buffer[4];
  EXPECT_EQ(files.Read(buffer, 1, 4, handle), 0u);
}

TEST(MemoryFileSystem, OpensOnlyItsOwnFilesForReadingAndAtMost25) {
  MemoryFileSystem files;
  files.Add("a.kiv", Ten());
  files.Add("empty.kiv", std::vector<std::uint8_t>{});
  EXPECT_EQ(files.Open("b.kiv", "rb"), nullptr);
  EXPECT_EQ(files.Open(nullptr, "rb"), nullptr);
  EXPECT_EQ(files.Open("a.kiv", "wb"), nullptr);
  EXPECT_EQ(files.Open("a.kiv", "r+b"), nullptr);
  EXPECT_EQ(files.Open("a.kiv", nullptr), nullptr);
  FileHandle* handles[kMaxOpenFiles] = {};
  for (FileHandle*& handle : handles) ASSERT_NE(handle = files.Open("empty.kiv", "rb"), nullptr);
  EXPECT_EQ(files.Open("a.kiv", "rb"), nullptr);
  files.Close(handles[7]);
  EXPECT_EQ(files.Open("a.kiv", "rb"), handles[7]);
}

TEST(MemoryFileSystem, TheManagerFindsLoadsAndForgetsIt) {
  ResourceManager manager;
  MemoryFileSystem files;
  const std::vector<std::uint8_t> ten = Ten();
  files.Add("a.kiv", ten);
  ASSERT_EQ(manager.RegisterFileSystem(&files), 1);
  ByteSpan bytes;
  ASSERT_TRUE(manager.FileInMemory("a.kiv", &bytes));
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), ten);
  EXPECT_FALSE(manager.FileInMemory("b.kiv", &bytes));
  std::int32_t size = 0;
  std::uint8_t* loaded = manager.LoadFile("a.kiv", nullptr, &size);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(loaded, loaded + size), ten);
  manager.FreeFile(loaded);
  EXPECT_EQ(manager.UnregisterFileSystem(&files), 1);
  EXPECT_EQ(manager.UnregisterFileSystem(&files), 0);
  EXPECT_EQ(manager.FindFileSystem("a.kiv"), nullptr);
  EXPECT_FALSE(manager.FileInMemory("a.kiv", &bytes));
  for (int i = 0; i < kMaxFileSystems; ++i) EXPECT_EQ(manager.RegisterFileSystem(&files), 1);
}

}  // namespace
}  // namespace kiv
