#include "protocol/wire/KeyMap.h"

#include <array>
#include <unordered_map>

namespace plimo::KeyMap {

namespace {

// X keysym values (X11/keysymdef.h, XF86keysym.h); written out so that this
// file needs no X header.
namespace xk {
constexpr uint32_t BackSpace = 0xff08, Tab = 0xff09, Return = 0xff0d, Pause = 0xff13,
                   Scroll_Lock = 0xff14, Escape = 0xff1b, Home = 0xff50, Left = 0xff51,
                   Up = 0xff52, Right = 0xff53, Down = 0xff54, Prior = 0xff55, Next = 0xff56,
                   End = 0xff57, Print = 0xff61, Insert = 0xff63, Num_Lock = 0xff7f,
                   KP_Enter = 0xff8d, KP_Multiply = 0xffaa, KP_Add = 0xffab, KP_Subtract = 0xffad,
                   KP_Decimal = 0xffae, KP_Divide = 0xffaf, KP_0 = 0xffb0, KP_Equal = 0xffbd,
                   F1 = 0xffbe, Shift_L = 0xffe1, Shift_R = 0xffe2, Control_L = 0xffe3,
                   Control_R = 0xffe4, Caps_Lock = 0xffe5, Alt_L = 0xffe9, Alt_R = 0xffea,
                   Super_L = 0xffeb, Super_R = 0xffec, Delete = 0xffff;
constexpr uint32_t AudioLowerVolume = 0x1008ff11, AudioMute = 0x1008ff12,
                   AudioRaiseVolume = 0x1008ff13;
constexpr uint32_t F(int n) { return F1 + uint32_t(n - 1); }
constexpr uint32_t KP(int digit) { return KP_0 + uint32_t(digit); }
}  // namespace xk

// In the order of the key positions of a full keyboard's reference table, so
// that a main key always comes before its keypad twin.
constexpr std::array<Entry, 110> kTable = {{
    {'a', 0x41}, {'s', 0x53}, {'d', 0x44}, {'f', 0x46}, {'h', 0x48}, {'g', 0x47},
    {'z', 0x5A}, {'x', 0x58}, {'c', 0x43}, {'v', 0x56},
    {'<', 0xE2},  // the extra key of ISO keyboards, beside the left Shift
    {'b', 0x42}, {'q', 0x51}, {'w', 0x57}, {'e', 0x45}, {'r', 0x52}, {'y', 0x59},
    {'t', 0x54}, {'1', 0x31}, {'2', 0x32}, {'3', 0x33}, {'4', 0x34}, {'6', 0x36},
    {'5', 0x35}, {'=', 0xBB}, {'9', 0x39}, {'7', 0x37}, {'-', 0xBD}, {'8', 0x38},
    {'0', 0x30}, {']', 0xDD}, {'o', 0x4F}, {'u', 0x55}, {'[', 0xDB}, {'i', 0x49},
    {'p', 0x50}, {xk::Return, 0x0D}, {'l', 0x4C}, {'j', 0x4A}, {'\'', 0xDE},
    {'k', 0x4B}, {';', 0xBA}, {'\\', 0xDC}, {',', 0xBC}, {'/', 0xBF}, {'n', 0x4E},
    {'m', 0x4D}, {'.', 0xBE}, {xk::Tab, 0x09}, {' ', 0x20}, {'`', 0xC0},
    {xk::BackSpace, 0x08}, {xk::Escape, 0x1B}, {xk::Shift_L, 0x10},
    {xk::Caps_Lock, 0x14}, {xk::Alt_L, 0x12}, {xk::Control_L, 0x11},
    {xk::Shift_R, 0x10}, {xk::Alt_R, 0x12}, {xk::Control_R, 0x11}, {xk::F(17), 0x80},
    {xk::KP_Decimal, 0x6E}, {xk::KP_Multiply, 0x6A}, {xk::KP_Add, 0x6B},
    {xk::Num_Lock, 0x90},  // the keypad's Clear key position
    {xk::AudioRaiseVolume, 0xAF}, {xk::AudioLowerVolume, 0xAE}, {xk::AudioMute, 0xAD},
    {xk::KP_Divide, 0x6F}, {xk::KP_Enter, 0x0D}, {xk::KP_Subtract, 0x6D},
    {xk::F(18), 0x81}, {xk::F(19), 0x82}, {xk::KP_Equal, 0xBB}, {xk::KP(0), 0x60},
    {xk::KP(1), 0x61}, {xk::KP(2), 0x62}, {xk::KP(3), 0x63}, {xk::KP(4), 0x64},
    {xk::KP(5), 0x65}, {xk::KP(6), 0x66}, {xk::KP(7), 0x67}, {xk::KP(8), 0x68},
    {xk::KP(9), 0x69}, {xk::F(5), 0x74}, {xk::F(6), 0x75}, {xk::F(7), 0x76},
    {xk::F(3), 0x72}, {xk::F(8), 0x77}, {xk::F(9), 0x78}, {xk::F(11), 0x7A},
    {xk::Print, 0x2C},  // where the F13 key sits
    {xk::F(16), 0x7F},
    {xk::Scroll_Lock, 0x91},  // F14's place
    {xk::F(10), 0x79}, {xk::F(12), 0x7B},
    {xk::Pause, 0x13},  // F15's place
    {xk::Insert, 0x2D},  // the Help key's place
    {xk::Home, 0x24}, {xk::Prior, 0x21}, {xk::Delete, 0x2E}, {xk::F(4), 0x73},
    {xk::End, 0x23}, {xk::F(2), 0x71}, {xk::Next, 0x22}, {xk::F(1), 0x70},
    {xk::Left, 0x25}, {xk::Right, 0x27}, {xk::Down, 0x28}, {xk::Up, 0x26},
}};

const std::unordered_map<int32_t, uint32_t>& keysyms() {
  static const auto map = [] {
    std::unordered_map<int32_t, uint32_t> m;
    for (const auto& entry : kTable) m.emplace(entry.vk, entry.keysym);  // first wins
    const std::array<Entry, 12> fixed = {{
        {xk::Return, 0x0D}, {'=', 0xBB}, {xk::Delete, 0x2E}, {xk::Insert, 0x2D},
        {xk::Super_L, 0x5B}, {xk::Super_R, 0x5C}, {xk::Shift_L, 0xA0}, {xk::Shift_R, 0xA1},
        {xk::Control_L, 0xA2}, {xk::Control_R, 0xA3}, {xk::Alt_L, 0xA4}, {xk::Alt_R, 0xA5},
    }};
    for (const auto& entry : fixed) m[entry.vk] = entry.keysym;
    return m;
  }();
  return map;
}

const std::unordered_map<uint32_t, int32_t>& codes() {
  static const auto map = [] {
    std::unordered_map<uint32_t, int32_t> m;
    for (const auto& entry : kTable) m.emplace(entry.keysym, entry.vk);
    return m;
  }();
  return map;
}

}  // namespace

std::span<const Entry> table() { return kTable; }

std::optional<uint32_t> keysym(int32_t vk) {
  auto found = keysyms().find(vk);
  if (found == keysyms().end()) return std::nullopt;
  return found->second;
}

std::optional<int32_t> virtualKey(uint32_t sym) {
  if (sym >= 'A' && sym <= 'Z') sym += 'a' - 'A';
  auto found = codes().find(sym);
  if (found == codes().end()) return std::nullopt;
  return found->second;
}

}  // namespace plimo::KeyMap
