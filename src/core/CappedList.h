#pragma once
// A list that keeps its newest items within a count and a size: what a
// partner can add without end (chat, notices) must not fill memory.

#include <cstddef>
#include <vector>

namespace plimo {

// Appends `item`, then drops the oldest while more than `maxItems` are kept
// or the sizes `sizeOf` gives add up to more than `maxBytes`; the newest
// item always stays.
template <typename T, typename SizeOf>
void appendCapped(std::vector<T>& items, T item, size_t maxItems, size_t maxBytes, SizeOf sizeOf) {
  items.push_back(std::move(item));
  size_t bytes = 0;
  for (const auto& i : items) bytes += sizeOf(i);
  size_t drop = 0;
  while (items.size() - drop > 1 && (items.size() - drop > maxItems || bytes > maxBytes))
    bytes -= sizeOf(items[drop++]);
  items.erase(items.begin(), items.begin() + std::ptrdiff_t(drop));
}

}  // namespace plimo
