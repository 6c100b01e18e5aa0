// IDs: the check, the display form, and reading what a person typed.
#include <gtest/gtest.h>

#include "core/PlimoID.h"

using namespace plimo;

TEST(PlimoID, FormatPlimoID) {
  EXPECT_EQ(formatPlimoID("123456789"), "123 456 789");
  EXPECT_EQ(formatPlimoID("12345678"), "12345678");
  EXPECT_EQ(formatPlimoID("0"), "0");
}

TEST(PlimoID, CheckAndTypedForms) {
  struct Case {
    std::string text;
    bool isID;
    std::string typed;
  };
  for (const Case& k : std::vector<Case>{
           {"123456789", true, "123456789"},
           {"000000000", true, "000000000"},
           {"123 456 789", false, "123456789"},
           {"123-456- 789", false, "123456789"},
           {" 123456789 ", false, "123456789"},
           {"12345678", false, ""},
           {"1234567890", false, ""},
           {"12345678a", false, ""},
           {"123_456_789", false, ""},
           {"12345678\xD9", false, ""},
           {"", false, ""},
           {"0", false, ""},
       }) {
    EXPECT_EQ(isPlimoID(k.text), k.isID) << k.text;
    EXPECT_EQ(typedPlimoID(k.text), k.typed) << k.text;
  }
}
