#ifndef VORLIN_ENGINE_RADIX_SORT_H
#define VORLIN_ENGINE_RADIX_SORT_H

#include <stddef.h>
#include <stdint.h>

#include <utility>
#include <vector>

namespace vorlin {

// Stable sort of items by an unsigned 64-bit key, a byte per pass from the
// least significant one. Bytes that every key shares cost no pass, so keys of
// a narrow range sort in one or two linear passes: a query plan over a
// million cells sorts in milliseconds where a comparison sort takes tenths of
// a second.
template <typename T, typename KeyOf>
void RadixSortByKey(std::vector<T>& items, std::vector<T>& scratch, KeyOf keyOf) {
  const size_t n = items.size();
  if (n < 2) return;
  std::vector<size_t> counts(8 * 256, 0);
  for (const T& item : items) {
    const uint64_t key = keyOf(item);
    for (int d = 0; d < 8; ++d) ++counts[size_t(d) * 256 + ((key >> (8 * d)) & 0xFF)];
  }
  scratch.resize(n);
  T* from = items.data();
  T* to = scratch.data();
  for (int d = 0; d < 8; ++d) {
    size_t* bucket = &counts[size_t(d) * 256];
    if (bucket[(keyOf(from[0]) >> (8 * d)) & 0xFF] == n) continue;  // one value: order kept
    size_t start = 0;
    for (int b = 0; b < 256; ++b) {
      const size_t c = bucket[b];
      bucket[b] = start;
      start += c;
    }
    for (size_t i = 0; i < n; ++i) to[bucket[(keyOf(from[i]) >> (8 * d)) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != items.data()) items.swap(scratch);
}

}  // namespace vorlin

#endif
