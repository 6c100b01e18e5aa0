// The extension list and clipboard text against their literal bytes, and
// what each reader makes of bytes a partner may send instead.

#include <gtest/gtest.h>

#include "protocol/wire/ClipboardText.h"
#include "protocol/wire/ExtensionList.h"

using namespace plimo;

namespace {

using Ext = ExtensionList::Extension;

TEST(ExtensionCodecs, WritersGiveTheirLiteralBytes) {
  const Ext two[] = {{"clipboard", 1}, {"files", 0x0102}};
  EXPECT_EQ(ExtensionList::encode(two), (Bytes{0x01, 0x02, 9, 'c', 'l', 'i', 'p', 'b', 'o', 'a', 'r', 'd', 0x01, 0x00,
                                               5, 'f', 'i', 'l', 'e', 's', 0x02, 0x01}));
  EXPECT_EQ(ExtensionList::encode({}), (Bytes{0x01, 0x00}));
  const std::vector<Ext> many(20, Ext{"x", 1});
  EXPECT_EQ(ExtensionList::encode(many)[1], 16) << "only the first 16 go";
  EXPECT_EQ(ClipboardText::encode("a\xC3\xA9"), (Bytes{0x01, 'a', 0xC3, 0xA9}));
}

TEST(ExtensionCodecs, ListReaderTakesWhatLaterFormatsMayAdd) {
  const Ext two[] = {{"clipboard", 1}, {"files", 3}};
  Bytes later = ExtensionList::encode(two);
  later[0] = 7;
  later.insert(later.end(), {0xEE, 0xEE, 0xEE});
  EXPECT_EQ(ExtensionList::decode(later), (std::vector<Ext>(std::begin(two), std::end(two))))
      << "a later format, trailing bytes";

  const Ext twice[] = {{"files", 2}, {"files", 9}};
  EXPECT_EQ(ExtensionList::decode(ExtensionList::encode(twice)), (std::vector<Ext>{{"files", 2}}))
      << "the first entry of a name";

  Bytes crowded{0x01, 40};
  for (int i = 0; i < 40; ++i) crowded.insert(crowded.end(), {2, 'e', uint8_t('a' + i % 26), 1, 0});
  EXPECT_EQ(ExtensionList::decode(crowded).value().size(), ExtensionList::kMaxEntries);
}

TEST(ExtensionCodecs, ReadersRefuseTruncatedMistypedAndOversizedBytes) {
  const Ext one[] = {{"files", 1}};
  const Bytes list = ExtensionList::encode(one);
  const Bytes cut(list.begin(), list.end() - 1);
  Bytes longName{0x01, 0x01, 33};
  longName.insert(longName.end(), 33, 'a');
  longName.insert(longName.end(), {1, 0});
  const std::string mega(ClipboardText::kMaxText, 'x');
  struct Refused {
    const char* what;
    bool refused;
  };
  const Refused table[] = {
      {"empty list", !ExtensionList::decode(Bytes{})},
      {"list without a count", !ExtensionList::decode(Bytes{0x01})},
      {"list of format 0", !ExtensionList::decode(Bytes{0x00, 0x00})},
      {"list cut in a version", !ExtensionList::decode(cut)},
      {"list claiming more entries", !ExtensionList::decode(Bytes{0x01, 0x02, 1, 'a', 1, 0})},
      {"list with a name of 0 bytes", !ExtensionList::decode(Bytes{0x01, 0x01, 0, 1, 0})},
      {"list with a name of 33 bytes", !ExtensionList::decode(longName)},
      {"list with an upper-case name", !ExtensionList::decode(Bytes{0x01, 0x01, 1, 'A', 1, 0})},
      {"list with a name with a slash", !ExtensionList::decode(Bytes{0x01, 0x01, 3, 'a', '/', 'b', 1, 0})},
      {"list with a name with NUL", !ExtensionList::decode(Bytes{0x01, 0x01, 2, 'a', 0, 1, 0})},
      {"list with version 0", !ExtensionList::decode(Bytes{0x01, 0x01, 1, 'a', 0, 0})},
      {"empty clipboard", !ClipboardText::decode(Bytes{})},
      {"clipboard of no text", !ClipboardText::decode(Bytes{0x01})},
      {"clipboard of another format", !ClipboardText::decode(Bytes{0x02, 'a'})},
      {"clipboard of controls only", !ClipboardText::decode(Bytes{0x01, 0x1B, 0x00, 0x7F, 0xC2, 0x9B})},
      {"clipboard one byte past 1 MiB", !ClipboardText::decode(ClipboardText::encode(mega + "x"))},
  };
  for (const auto& row : table) EXPECT_TRUE(row.refused) << row.what;
  EXPECT_EQ(ClipboardText::decode(ClipboardText::encode(mega)).value().size(), mega.size()) << "1 MiB exactly";
}

TEST(ExtensionCodecs, ClipboardReaderGivesPlainText) {
  struct Read {
    const char* what;
    std::string sent, read;
  };
  const Read table[] = {
      {"lines and tabs", "a\tb\r\nc\n", "a\tb\r\nc\n"},
      {"UTF-8", "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC", "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"},
      {"an escape sequence", "ls\x1B[2J\x1B]0;x\x07", "ls[2J]0;x"},
      {"NUL, DEL and C1", std::string("a\0b\x7F" "c\xC2\x9B" "d", 8), "abcd"},
      {"invalid UTF-8", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
  };
  for (const auto& row : table) EXPECT_EQ(ClipboardText::decode(ClipboardText::encode(row.sent)), row.read) << row.what;
}

}  // namespace
