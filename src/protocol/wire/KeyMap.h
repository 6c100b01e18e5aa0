#pragma once
// Windows virtual-key codes (what travels in key events) and X keysyms (what
// the keyboard here speaks), both ways.
//
// `table` lists every key the partner protocol knows, one entry a key
// position, main keys before their keypad twins. The host turns a received
// virtual-key code into a keysym with `keysym`; the viewer turns a local key
// into a virtual-key code with `virtualKey`.

#include <cstdint>
#include <optional>
#include <span>

namespace plimo::KeyMap {

struct Entry {
  uint32_t keysym;
  int32_t vk;
};

// 110 entries; several keysyms may share a code (Return and keypad Enter).
std::span<const Entry> table();

// The keysym to play for a code. Where several keys give the same code, the
// main key wins over the keypad key (0x0D is Return, 0xBB is equals), and the
// left- and right-hand modifier codes (0xA0 to 0xA5) and the Windows keys
// (0x5B, 0x5C, as Super) have keysyms of their own.
std::optional<uint32_t> keysym(int32_t vk);

// The code for a local key; a capital letter gives its letter key's code.
std::optional<int32_t> virtualKey(uint32_t keysym);

}  // namespace plimo::KeyMap
