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
  // Strict parsers reject any raw byte below 0x20 inside a string, and a file
  // name may hold each of them; space and '~' stay as they are.
  EXPECT_EQ(JsonString("a\x1F b"), "\"a\\u001f b\"");
  EXPECT_EQ(JsonString(std::string("\0\x01", 2)), "\"\\u0000\\u0001\"");
  EXPECT_EQ(JsonString("\x1E~"), "\"\\u001e~\"");
  for (int c = 0; c < 0x20; ++c) {
    const std::string quoted = JsonString(std::string(1, static_cast<char>(c)));
    EXPECT_EQ(quoted.size(), 8u) << "byte " << c;  // "\u00XX" in quotes
    for (const char out : quoted) EXPECT_GE(static_cast<unsigned char>(out), 0x20) << "byte " << c;
  }
}

}  // namespace
}  // namespace kivtool
