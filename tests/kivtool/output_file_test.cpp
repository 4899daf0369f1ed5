#include "output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kivtool {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/kivtool-output-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    directory_ = name;
  }
  void TearDown() override { fs::remove_all(directory_); }
  std::string Path(const char* name) const { return (directory_ / name).string(); }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()));
  }
  static std::string Content(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path directory_;
};

TEST_F(OutputFileTest, AppearsOnlyWhenComplete) {
  OutputFile file;
  std::string error;
  ASSERT_TRUE(file.Open(Path("a.png"), false, &error)) << error;
  std::fputs("complete", file.stream());
  EXPECT_FALSE(fs::exists(Path("a.png")));  // still under its temporary name
  ASSERT_TRUE(file.Commit(&error)) << error;
  EXPECT_EQ(Content(Path("a.png")), "complete");
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(OutputFileTest, FailedWriteLeavesNothingAndGivesTheReason) {
  std::ofstream(Path("old.png")) << "old";
  OutputFile file;
  std::string error;
  ASSERT_TRUE(file.Open(Path("old.png"), false, &error));
  std::fputs("part", file.stream());
  file.NoteWriteError(ENOSPC);
  EXPECT_FALSE(file.Commit(&error));
  EXPECT_EQ(error, "No space left on device");
  EXPECT_EQ(Content(Path("old.png")), "old");
  EXPECT_EQ(Entries(), 1u);
  {
    OutputFile abandoned;
    ASSERT_TRUE(abandoned.Open(Path("never.png"), false, &error));
  }
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(OutputFileTest, NoClobberRefusesAnExistingFile) {
  std::ofstream(Path("kept.png")) << "kept";
  OutputFile file;
  std::string error;
  EXPECT_FALSE(file.Open(Path("kept.png"), true, &error));
  EXPECT_EQ(error, "exists; not replaced (-n)");
  // One that appears while the output is written is not replaced either.
  ASSERT_TRUE(file.Open(Path("late.png"), true, &error));
  std::ofstream(Path("late.png")) << "late";
  std::fputs("mine", file.stream());
  EXPECT_FALSE(file.Commit(&error));
  EXPECT_EQ(Content(Path("kept.png")), "kept");
  EXPECT_EQ(Content(Path("late.png")), "late");
  EXPECT_EQ(Entries(), 2u);
}

TEST_F(OutputFileTest, DevicesAreWrittenInPlace) {
  // Renaming over /dev/null would replace the device with a plain file.
  OutputFile file;
  std::string error;
  ASSERT_TRUE(file.Open("/dev/null", false, &error)) << error;
  std::fputs("gone", file.stream());
  ASSERT_TRUE(file.Commit(&error)) << error;
  struct stat device {};
  ASSERT_EQ(stat("/dev/null", &device), 0);
  EXPECT_TRUE(S_ISCHR(device.st_mode));
}

}  // namespace
}  // namespace kivtool
