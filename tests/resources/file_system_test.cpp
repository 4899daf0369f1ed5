#include "resources/file_system.h"

#include <gtest/gtest.h>

#include <string>

#include "resources/temp_dir.h"

namespace kiv {
namespace {

TEST(StdioFileSystem, TwentyFiveSlotsAndTheClosedRecordIsReused) {
  testing::TempDir dir;
  const std::string path = dir.Write("a.bin", "abc");
  StdioFileSystem fs;
  FileHandle* handles[kMaxOpenFiles];
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    handles[i] = fs.Open(path.c_str(), "rb");
    ASSERT_NE(handles[i], nullptr) << i;
    EXPECT_EQ(handles[i]->slot, i);
    EXPECT_EQ(handles[i]->inUse, 1);
  }
  EXPECT_EQ(fs.Open(path.c_str(), "rb"), nullptr);  // the 26th

  EXPECT_EQ(fs.Close(handles[7]), 0);
  EXPECT_EQ(handles[7]->inUse, 0);
  EXPECT_EQ(fs.Open(path.c_str(), "rb"), handles[7]);
  EXPECT_EQ(fs.Open(path.c_str(), "rb"), nullptr);
  // The destructor closes the 25 streams (the sanitizer's leak check sees it).
}

TEST(StdioFileSystem, MissingFileLeavesTheRecordFree) {
  testing::TempDir dir;
  const std::string path = dir.Write("present", "x");
  StdioFileSystem fs;
  EXPECT_EQ(fs.Open(dir.File("absent").c_str(), "rb"), nullptr);
  FileHandle* handle = fs.Open(path.c_str(), "rb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->slot, 0);
  fs.Close(handle);
}

TEST(StdioFileSystem, ClosedHandleIsRefusedByEveryOperation) {
  testing::TempDir dir;
  const std::string path = dir.Write("a.bin", "hello");
  StdioFileSystem fs;
  FileHandle* handle = fs.Open(path.c_str(), "rb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(fs.Close(handle), 0);
  EXPECT_EQ(fs.Close(handle), -1);
  char buffer[8];
  EXPECT_EQ(fs.Tell(handle), -1);
  EXPECT_EQ(fs.Seek(handle, 0, 0), -1);
  EXPECT_EQ(fs.Read(buffer, 1, 5, handle), 0u);
  EXPECT_EQ(fs.Write(buffer, 1, 5, handle), 0u);
  EXPECT_EQ(fs.Close(nullptr), -1);
  FileHandle forged{1, 99};
  EXPECT_EQ(fs.Tell(&forged), -1);
}

TEST(StdioFileSystem, SeekOriginsAndItemCounts) {
  testing::TempDir dir;
  const std::string path = dir.Write("w.bin", "0123456789");
  StdioFileSystem fs;
  FileHandle* in = fs.Open(path.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  char buffer[4] = {};
  EXPECT_EQ(fs.Seek(in, -3, 2), 0);
  EXPECT_EQ(fs.Read(buffer, 1, 4, in), 3u);  // only 789 remain
  EXPECT_EQ(fs.Seek(in, 2, 0), 0);
  EXPECT_EQ(fs.Seek(in, 2, 1), 0);
  EXPECT_EQ(fs.Tell(in), 4);
  EXPECT_EQ(fs.Read(buffer, 3, 1, in), 1u);
  EXPECT_EQ(std::string(buffer, 3), "456");
  EXPECT_NE(fs.Seek(in, -100, 0), 0);  // the stream's own error
  fs.Close(in);
}

}  // namespace
}  // namespace kiv
