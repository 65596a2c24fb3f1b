#include "base/bit_array.h"

#include <string.h>

namespace {

struct PopCountTable {
  uint8_t counts[256];
  PopCountTable() {
    for (int b = 0; b < 256; ++b) {
      int n = 0;
      for (int v = b; v; v >>= 1) n += v & 1;
      counts[b] = uint8_t(n);
    }
  }
};

const PopCountTable kPopCount;

}  // namespace

BitArray::~BitArray() { Release(); }

void BitArray::Init(int32_t bits) {
  Release();
  if (bits < 0) bits = 0;
  m_bitCount = bits;
  m_byteCount = bits / 8 + 1;
  m_bytes = new uint8_t[m_byteCount];
}

void BitArray::Resize(int32_t bits) {
  Init(bits);
  Clear();
}

void BitArray::Clear() {
  if (m_bytes) memset(m_bytes, 0, size_t(m_byteCount));
}

void BitArray::Release() {
  delete[] m_bytes;
  m_bytes = nullptr;
  m_byteCount = 0;
  m_bitCount = 0;
}

bool BitArray::AnyWord(int32_t i) const { return AnyBytes(i, 4); }

bool BitArray::AnyBytes(int32_t i, int32_t n) const {
  int32_t first = i >> 3;
  if (!m_bytes || first < 0 || first >= m_byteCount || n <= 0) return false;
  int32_t last = first + n;
  if (last > m_byteCount || last < first) last = m_byteCount;
  for (int32_t b = first; b < last; ++b) {
    if (m_bytes[b]) return true;
  }
  return false;
}

int64_t BitArray::Count() const {
  int64_t total = 0;
  for (int32_t b = 0; b < m_byteCount; ++b) total += kPopCount.counts[m_bytes[b]];
  return total;
}
