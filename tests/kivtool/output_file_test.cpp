#include "output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// A file made through a temporary one gets the mode a plain create would:
// 0666 less the umask, so exported pictures stay readable by a web server or
// another user, as with any other tool.
TEST_F(OutputFileTest, CommittedFileFollowsTheUmask) {
  struct RestoreUmask {
    mode_t saved = umask(0);
    ~RestoreUmask() { umask(saved); }
  } restore;
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{002}}) {
    umask(mask);
    const std::string path = Path("mode.png");
    for (const bool noClobber : {false, true}) {
      fs::remove(path);
      OutputFile file;
      std::string error;
      ASSERT_TRUE(file.Open(path, noClobber, &error)) << error;
      std::fputs("x", file.stream());
      ASSERT_TRUE(file.Commit(&error)) << error;
      struct stat committed {};
      ASSERT_EQ(stat(path.c_str(), &committed), 0);
      EXPECT_EQ(committed.st_mode & 07777, 0666 & ~mask) << "umask " << std::oct << mask << (noClobber ? " -n" : "");
    }
  }
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
  // A successful -n write leaves the output alone, no temporary beside it.
  ASSERT_TRUE(file.Open(Path("new.png"), true, &error)) << error;
  std::fputs("new", file.stream());
  ASSERT_TRUE(file.Commit(&error)) << error;
  EXPECT_EQ(Content(Path("new.png")), "new");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"kept.png", "late.png", "new.png"}));
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
