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

TEST(Text, EscapeSequencesFromOutsideCannotReachATerminalOrForgeALogLine) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain é text", "plain é text"},
      {"\x1b[2J\x1b[8mCheck number 123", "\\x1b[2J\\x1b[8mCheck number 123"},
      {"\x1b]52;c;ZXZpbA==\x07", "\\x1b]52;c;ZXZpbA==\\x07"},
      {"id\r\n2026-01-01 00:00:00  Trusted helper", "id\\x0d\\x0a2026-01-01 00:00:00  Trusted helper"},
      {"tab\tdel\x7f", "tab\\x09del\\x7f"},
      {"\xC2\x9B" "31m", "\\x9b31m"},                    // C1 CSI as UTF-8
      {"\x9B" "31m", "\xEF\xBF\xBD" "31m"},              // a bare C1 byte is no UTF-8
      {"a\xE2\x80\xAE" "gpj.exe", "a\xEF\xBF\xBD" "gpj.exe"},  // right-to-left override
      {"\xE2\x81\xA6x\xE2\x81\xA9", "\xEF\xBF\xBDx\xEF\xBF\xBD"},  // isolates
      {"\xE2\x80\x94 dash", "\xE2\x80\x94 dash"},        // U+2014 stays
      {"\xC2\xA0nbsp", "\xC2\xA0nbsp"},
  };
  for (const auto& c : cases) EXPECT_EQ(printable(c.in), c.out) << c.in;
}
