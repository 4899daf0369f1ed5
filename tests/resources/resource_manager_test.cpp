#include "resources/resource_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resources/temp_dir.h"

namespace kiv {
namespace {

// A file system that opens nothing, or one whose Tell cannot give a size.
class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(bool opens) : opens_(opens) {}
  FileHandle* Open(const char*, const char*) override {
    if (!opens_) return nullptr;
    ++opened;
    record_.inUse = 1;
    return &record_;
  }
  std::int32_t Close(FileHandle* handle) override {
    ++closed;
    handle->inUse = 0;
    return 0;
  }
  std::int32_t Tell(FileHandle*) override { return -1; }
  std::int32_t Seek(FileHandle*, std::int32_t, std::int32_t) override { return 0; }
  std::size_t Read(void*, std::size_t, std::size_t count, FileHandle*) override {
    ++reads;
    return count;
  }
  std::size_t Write(const void*, std::size_t, std::size_t, FileHandle*) override { return 0; }

  int opened = 0;
  int closed = 0;
  int reads = 0;

 private:
  bool opens_;
  FileHandle record_{0, 0};
};

TEST(ResourceManager, FourPlacesAndTheFifthIsRefused) {
  ResourceManager manager;
  FakeFileSystem a(false), b(false), c(false), d(false), e(false);
  EXPECT_EQ(manager.RegisterFileSystem(&a), 1);
  EXPECT_EQ(manager.RegisterFileSystem(&b), 1);
  EXPECT_EQ(manager.RegisterFileSystem(&c), 1);
  EXPECT_EQ(manager.RegisterFileSystem(&d), 1);
  EXPECT_EQ(manager.RegisterFileSystem(&e), 0);
  EXPECT_EQ(manager.fileSystems[0], &a);
  EXPECT_EQ(manager.fileSystems[1], &b);
  EXPECT_EQ(manager.fileSystems[2], &c);
  EXPECT_EQ(manager.fileSystems[3], &d);
}

TEST(ResourceManager, FindFileSystemTakesTheLowestThatOpensAndClosesIt) {
  testing::TempDir dir;
  const std::string path = dir.Write("f", "data");
  ResourceManager manager;
  FakeFileSystem refuses(false);
  StdioFileSystem first, second;
  manager.RegisterFileSystem(&refuses);
  manager.RegisterFileSystem(&first);
  manager.RegisterFileSystem(&second);
  EXPECT_EQ(manager.FindFileSystem(path.c_str()), &first);
  EXPECT_EQ(manager.FindFileSystem(dir.File("none").c_str()), nullptr);
  EXPECT_EQ(manager.FindFileSystem(nullptr), nullptr);
  // Nothing was left open: the next open takes slot 0 again.
  FileHandle* handle = first.Open(path.c_str(), "rb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->slot, 0);
  first.Close(handle);
}

TEST(ResourceManager, LoadFileGivesTheWholeFile) {
  testing::TempDir dir;
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(i * 7 + 1);
  const std::string full = dir.Write("full", bytes);
  const std::string empty = dir.Write("empty", "");
  StdioFileSystem fs;
  ResourceManager manager;
  manager.RegisterFileSystem(&fs);

  std::int32_t size = -5;
  std::uint8_t* data = manager.LoadFile(full.c_str(), nullptr, &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 3000);
  EXPECT_EQ(std::memcmp(data, bytes.data(), bytes.size()), 0);
  EXPECT_EQ(manager.FreeFile(data), 1);

  data = manager.LoadFile(empty.c_str(), nullptr, &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 0);
  manager.FreeFile(data);

  std::uint8_t own[3000];
  EXPECT_EQ(manager.LoadFile(full.c_str(), own), own);
  EXPECT_EQ(own[2999], static_cast<std::uint8_t>(2999 * 7 + 1));

  EXPECT_EQ(manager.LoadFile(dir.File("missing").c_str(), nullptr), nullptr);
  EXPECT_EQ(manager.FreeFile(nullptr), 1);

  // Every handle went back: all 25 slots open again.
  FileHandle* handles[kMaxOpenFiles];
  for (auto& handle : handles) {
    handle = fs.Open(full.c_str(), "rb");
    ASSERT_NE(handle, nullptr);
  }
  for (auto* handle : handles) fs.Close(handle);
}

TEST(ResourceManager, SizeThatTellCannotGiveIsAFailedLoad) {
  ResourceManager manager;
  FakeFileSystem untellable(true);
  manager.RegisterFileSystem(&untellable);
  std::int32_t size = 77;
  EXPECT_EQ(manager.LoadFile("anything", nullptr, &size), nullptr);
  EXPECT_EQ(size, 77);
  EXPECT_EQ(untellable.opened, 1);
  EXPECT_EQ(untellable.closed, 1);
  EXPECT_EQ(untellable.reads, 0);
}

}  // namespace
}  // namespace kiv
