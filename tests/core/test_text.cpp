#include <gtest/gtest.h>

#include "core/Text.h"

using namespace plimo;

TEST(Text, DecimalsParseStrictlyWithinRange) {
  EXPECT_EQ(parseDecimal("+80"), 80);
  EXPECT_EQ(parseDecimal("-7"), -7);
  EXPECT_EQ(parseDecimal("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parseDecimal("-9223372036854775808"), INT64_MIN);
  for (const char* bad : {"", "+", "-", "12x", "0x10", " 5", "+-3", "9223372036854775808", "99999999999999999999"})
    EXPECT_EQ(parseDecimal(bad), std::nullopt) << bad;
}

TEST(Text, TrimsAndComparesNames) {
  EXPECT_EQ(trimBlanks(" \tk = v \t"), "k = v");
  EXPECT_EQ(trimBlanks("\r\nx\r\n"), "\r\nx\r\n");
  EXPECT_EQ(trimWhitespace("\r\n x \v"), "x");
  EXPECT_TRUE(sameName("Relay", "rELAY"));
  EXPECT_FALSE(sameName("Relay", "Relay "));
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(utf8Lossy("ok \xC3\xA9 \xF0\x9F\x98\x80"), "ok \xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(utf8Lossy("\xFF\xFEok"), "\xEF\xBF\xBD\xEF\xBF\xBDok");
  EXPECT_EQ(utf8Lossy("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
}
