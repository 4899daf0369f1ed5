#include "batch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kivtool {
namespace {

namespace fs = std::filesystem;

TEST(InputNames, FillThePatternWithTheBaseNameWithoutKiv) {
  struct Case {
    const char* input;
    const char* pattern;
    const char* output;
  };
  const Case cases[] = {
      {"archive/Intro.KIV", "out/%n.gif", "out/Intro.gif"},
      {"a.kiv", "out/%n/%04d.png", "out/a/%04d.png"},  // the frame number is left for the sequence
      {"two.kiv.kiv", "%n-%n.webp", "two.kiv-two.kiv.webp"},
      {"deep/nested", "%n.mp4", "nested.mp4"},         // named by content, no extension
      {".kiv", "%n.gif", ".kiv.gif"},                  // nothing would be left of the name
      {"x.kivx", "%n", "x.kivx"},
      {"a.kiv", "100%.gif", "100%.gif"},               // a % without n stays
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithInputName(c.pattern, InputName(c.input)), c.output) << c.input << " " << c.pattern;
  }
}

TEST(CollectInputs, FindsAnimationsByTheirFirstBytesInNameOrder) {
  char name[] = "/tmp/kivtool-batch-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const fs::path root = name;
  fs::create_directories(root / "sub");
  auto write = [&](const char* file, const char* bytes) { std::ofstream(root / file) << bytes; };
  write("b.kiv", "KIVA and more");
  write("a", "KIVA without a name");
  write("fake.kiv", "KIV");        // too short to be one
  write("notes.txt", "text");
  write("sub/c.kiv", "KIVA below");

  std::vector<std::string> top, all;
  std::string error;
  ASSERT_TRUE(CollectInputs({root.string()}, false, &top, &error)) << error;
  ASSERT_TRUE(CollectInputs({root.string(), "named.kiv"}, true, &all, &error)) << error;
  const std::vector<std::string> expectTop = {(root / "a").string(), (root / "b.kiv").string()};
  EXPECT_EQ(top, expectTop);
  // Files given by name are taken as they are (a missing one is reported when read).
  const std::vector<std::string> expectAll = {(root / "a").string(), (root / "b.kiv").string(),
                                              (root / "sub/c.kiv").string(), "named.kiv"};
  EXPECT_EQ(all, expectAll);
  // A directory without animations is a mistake to report, not an empty run.
  fs::create_directories(root / "empty");
  std::vector<std::string> none;
  EXPECT_FALSE(CollectInputs({(root / "empty").string()}, true, &none, &error));
  EXPECT_NE(error.find("holds no KIV animation"), std::string::npos) << error;
  EXPECT_TRUE(ManyInputs({root.string()}));
  EXPECT_FALSE(ManyInputs({(root / "a").string()}));
  fs::remove_all(root);
}

}  // namespace
}  // namespace kivtool
