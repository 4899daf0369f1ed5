#include "json_text.h"

#include <gtest/gtest.h>

namespace kivtool {
namespace {

TEST(JsonText, RatesTakeTheirShortestExactForm) {
  // Each text is the shortest that reads back as the same float.
  EXPECT_EQ(ShortestDecimal(29.97f), "29.97");
  EXPECT_EQ(ShortestDecimal(25.0f), "25");
  EXPECT_EQ(ShortestDecimal(100.0f), "100");
  EXPECT_EQ(ShortestDecimal(12.5f), "12.5");
  EXPECT_EQ(ShortestDecimal(0.001f), "0.001");
  EXPECT_EQ(ShortestDecimal(1.0f / 3.0f), "0.33333334");
  EXPECT_EQ(ShortestDecimal(0.0f), "0");
  EXPECT_EQ(ShortestDecimal(0.1 + 0.2), "0.30000000000000004");
}

TEST(JsonText, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(SanitisedUtf8("caf\xC3\xA9 \xF0\x9F\x8E\x9E.kiv"), "caf\xC3\xA9 \xF0\x9F\x8E\x9E.kiv");
  EXPECT_EQ(SanitisedUtf8("caf\xE9.kiv"), "caf" + r + ".kiv");          // Latin-1
  EXPECT_EQ(SanitisedUtf8("\xC0\xAF"), r + r);                         // overlong '/'
  EXPECT_EQ(SanitisedUtf8("\xED\xA0\x80"), r + r + r);                 // surrogate
  EXPECT_EQ(SanitisedUtf8("\xF4\x90\x80\x80"), r + r + r + r);         // above U+10FFFF
  EXPECT_EQ(SanitisedUtf8("a\xE2\x82"), "a" + r + r);                  // cut short
}

TEST(JsonText, StringsAreEscaped) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x7f\xE9"), "\"a\\\"b\\\\c\\u000a\\u007f\xEF\xBF\xBD\"");
}

}  // namespace
}  // namespace kivtool
