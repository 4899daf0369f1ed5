#include "resources/directory_lister.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "platform/find_file.h"
#include "resources/temp_dir.h"

namespace kiv {
namespace {

std::set<std::string> Collect(char* first, WinDirectoryLister& lister, bool directories) {
  std::set<std::string> names;
  for (char* name = first; name != nullptr;
       name = directories ? lister.NextDirectory() : lister.NextFile()) {
    names.insert(name);
  }
  return names;
}

TEST(DirectoryLister, FilesAndDirectoriesAreListedApart) {
  testing::TempDir dir;
  dir.Write("note.txt", std::string(1234, 'x'));
  ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
  const std::string all = dir.Path() + "/*";
  WinDirectoryLister lister;

  char* file = lister.FirstFile(all.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_STREQ(file, "note.txt");
  EXPECT_EQ(LastEntrySize, 1234u);
  struct stat info {};
  ASSERT_EQ(stat(dir.File("note.txt").c_str(), &info), 0);
  EXPECT_EQ(LastEntryWriteTime, static_cast<std::int32_t>(info.st_mtime));
  EXPECT_EQ(lister.NextFile(), nullptr);
  EXPECT_EQ(lister.NextFile(), nullptr);  // the ended search stays ended

  EXPECT_EQ(Collect(lister.FirstDirectory(all.c_str()), lister, true),
            (std::set<std::string>{".", "..", "sub"}));
  EXPECT_EQ(platform::OpenSearchCount(), 0);

  // "*.*" takes every name, as on Windows; '?' one character.
  EXPECT_EQ(Collect(lister.FirstFile((dir.Path() + "/*.*").c_str()), lister, false),
            (std::set<std::string>{"note.txt"}));
  EXPECT_STREQ(lister.FirstFile((dir.Path() + "/no?e.t*").c_str()), "note.txt");
  EXPECT_EQ(lister.NextFile(), nullptr);
}

TEST(DirectoryLister, NothingMatchingLeavesNoSearchOpen) {
  testing::TempDir dir;
  ASSERT_EQ(mkdir(dir.File("only").c_str(), 0755), 0);
  WinDirectoryLister lister;
  EXPECT_EQ(lister.FirstFile((dir.Path() + "/*").c_str()), nullptr);
  EXPECT_EQ(lister.FirstFile((dir.Path() + "/absent*").c_str()), nullptr);
  EXPECT_EQ(lister.FirstDirectory((dir.Path() + "/missing/*").c_str()), nullptr);
  EXPECT_EQ(lister.FirstDirectory(nullptr), nullptr);
  EXPECT_EQ(platform::OpenSearchCount(), 0);
  EXPECT_EQ(lister.NextFile(), nullptr);
  EXPECT_EQ(lister.NextDirectory(), nullptr);
}

TEST(DirectoryLister, NewFirstClosesTheAbandonedSearch) {
  testing::TempDir dir;
  dir.Write("a", "1");
  dir.Write("b", "22");
  dir.Write("c", "333");
  const std::string all = dir.Path() + "/*";
  WinDirectoryLister lister;
  ASSERT_NE(lister.FirstFile(all.c_str()), nullptr);
  ASSERT_NE(lister.FirstDirectory(all.c_str()), nullptr);
  EXPECT_EQ(platform::OpenSearchCount(), 2);
  ASSERT_NE(lister.FirstFile(all.c_str()), nullptr);
  ASSERT_NE(lister.FirstDirectory(all.c_str()), nullptr);
  EXPECT_EQ(platform::OpenSearchCount(), 2);
  // The two searches run side by side.
  EXPECT_EQ(Collect(lister.NextFile(), lister, false), (std::set<std::string>{"b", "c"}));
  EXPECT_EQ(Collect(lister.NextDirectory(), lister, true), (std::set<std::string>{".."}));
  EXPECT_EQ(platform::OpenSearchCount(), 0);
}

TEST(DirectoryLister, PathDepthCountsLevelsBelowTheRoot) {
  WinDirectoryLister lister;
  const struct {
    const char* path;
    std::int32_t depth;
  } rows[] = {
      {"C:\\", -1},      {"C:", 0},      {"C:\\a", 0},       {"C:\\a\\", 0},
      {"C:\\a\\b", 1},   {"C:\\a\\b\\", 1}, {"C:\\a\\b\\c", 2}, {"C:a\\b", 1},
      {"a\\b", 0},       {"C:/a/b", 0},  {"", 0},            {"C", 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(lister.PathDepth(row.path), row.depth) << row.path;
  }
}

TEST(DirectoryLister, NoDriveLettersAndDirectoryChangeAlwaysTrue) {
  WinDirectoryLister lister;
  EXPECT_FALSE(lister.ChangeDrive("c:\\windows"));  // no drive letters here
  EXPECT_EQ(_chdrive(3), -1);

  testing::TempDir dir;
  char before[4096];
  ASSERT_NE(getcwd(before, sizeof(before)), nullptr);
  EXPECT_TRUE(lister.ChangeDirectory(dir.Path().c_str()));
  char now[4096];
  ASSERT_NE(getcwd(now, sizeof(now)), nullptr);
  EXPECT_EQ(std::string(now), dir.Path());
  EXPECT_TRUE(lister.ChangeDirectory((dir.Path() + "/missing").c_str()));
  ASSERT_NE(getcwd(now, sizeof(now)), nullptr);
  EXPECT_EQ(std::string(now), dir.Path());
  ASSERT_EQ(chdir(before), 0);

}

}  // namespace
}  // namespace kiv
