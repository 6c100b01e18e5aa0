#include <gtest/gtest.h>

#include <map>
#include <set>

#include "protocol/wire/KeyMap.h"

using namespace plimo;

TEST(KeyMap, TableHasEveryKeyOnceAndEveryCodeGoesBackToAKeyOfItsOwn) {
  auto table = KeyMap::table();
  EXPECT_EQ(table.size(), 110u);
  std::set<uint32_t> keysyms;
  for (const auto& entry : table) {
    EXPECT_TRUE(keysyms.insert(entry.keysym).second) << std::hex << entry.keysym;
    auto back = KeyMap::keysym(entry.vk);
    ASSERT_TRUE(back) << std::hex << entry.vk;
    EXPECT_EQ(KeyMap::virtualKey(*back), entry.vk) << std::hex << entry.vk;
  }
}

TEST(KeyMap, MainKeyWinsOverKeypadAndModifiersHaveTheirOwnCodes) {
  const std::map<int32_t, uint32_t> want = {
      {0x0D, 0xff0d},  // Return, not keypad Enter
      {0xBB, '='},     // equals, not keypad equals
      {0x10, 0xffe1}, {0x11, 0xffe3}, {0x12, 0xffe9},  // left-hand keys
      {0xA0, 0xffe1}, {0xA1, 0xffe2}, {0xA2, 0xffe3}, {0xA3, 0xffe4}, {0xA4, 0xffe9}, {0xA5, 0xffea},
      {0x5B, 0xffeb}, {0x5C, 0xffec},  // Windows keys as Super
      {0x2E, 0xffff}, {0x2D, 0xff63},  // Delete, Insert
      {0x60, 0xffb0}, {0x69, 0xffb9},  // keypad digits
      {0x70, 0xffbe}, {0x7B, 0xffc9}, {0x82, 0xffd0},  // F1, F12, F19
      {0x41, 'a'}, {0x5A, 'z'}, {0x30, '0'},
  };
  for (const auto& [vk, sym] : want) EXPECT_EQ(KeyMap::keysym(vk), sym) << std::hex << vk;
  EXPECT_EQ(KeyMap::virtualKey(0xff8d), 0x0D);  // keypad Enter still sends 0x0D
  EXPECT_EQ(KeyMap::virtualKey(0xffbd), 0xBB);
}

TEST(KeyMap, CapitalLettersGiveTheirKeyAndUnknownsGiveNothing) {
  EXPECT_EQ(KeyMap::virtualKey('Q'), 0x51);
  EXPECT_EQ(KeyMap::virtualKey('q'), 0x51);
  EXPECT_FALSE(KeyMap::virtualKey(0xffeb));  // Super: the viewer maps it itself
  EXPECT_FALSE(KeyMap::virtualKey(0x20ac));  // the euro sign has no key here
  EXPECT_FALSE(KeyMap::keysym(0x07));
  EXPECT_FALSE(KeyMap::keysym(0xFFFF));
}
