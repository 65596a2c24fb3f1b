#ifndef VORLIN_READERS_LAZ_ARITHMETIC_DECODER_H
#define VORLIN_READERS_LAZ_ARITHMETIC_DECODER_H

// The range decoder of the LAZ format, reading from a byte span. Damaged or
// short input never makes it read outside the span or index a model out of
// bounds: it yields zeros or clamped symbols and raises a sticky flag.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "readers/laz/arithmetic_model.h"

// The coder's inner functions are inlined into each item's decode so the
// interval state can stay in registers between consecutive symbols.
#if defined(__GNUC__)
#define VORLIN_LAZ_HOT inline __attribute__((always_inline))
#else
#define VORLIN_LAZ_HOT inline
#endif

namespace Zelvane {
namespace Vorlin {
namespace laz {

class ArithmeticDecoder {
 public:
  // Starts decoding data[0, size), which must outlive the decoding; reads
  // the first four bytes at once. Clears the flag.
  void init(const uint8_t* data, size_t size);

  VORLIN_LAZ_HOT uint32_t decodeBit(ArithmeticBitModel& m);
  VORLIN_LAZ_HOT uint32_t decodeSymbol(ArithmeticModel& m);
  // Raw values: bits in [1, 32].
  VORLIN_LAZ_HOT uint32_t readBits(uint32_t bits) {
    // Corrector low bits are mostly short: those stay inline.
    return bits - 1 < 19 ? readRaw(bits) : readWideBits(bits);
  }
  uint8_t readByte() { return uint8_t(readRaw(8)); }
  uint16_t readShort() { return uint16_t(readRaw(16)); }
  uint32_t readInt() {
    const uint32_t low = readShort();
    return (uint32_t(readShort()) << 16) | low;
  }
  uint64_t readInt64() {
    const uint64_t low = readInt();
    return (uint64_t(readInt()) << 32) | low;
  }

  // True once the decoder needed bytes past the end of its span, or met a
  // code value no encoder produces. Sticky until init.
  bool overrun() const { return m_failed; }
  // Bytes consumed so far (including the four read by init).
  size_t position() const { return m_pos; }

 private:
  VORLIN_LAZ_HOT uint32_t readRaw(uint32_t bits);
  uint32_t readWideBits(uint32_t bits);
  uint8_t nextByte() {
    if (m_pos < m_size) return m_data[m_pos++];
    m_failed = true;
    return 0;
  }
  void renormalize() {
    uint32_t value = uint32_t(m_value), length = uint32_t(m_length);
    do {
      value = (value << 8) | nextByte();
    } while ((length <<= 8) < kCoderMinLength);
    m_value = value;
    m_length = length;
  }

  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
  size_t m_pos = 0;
  // The interval, 32-bit values held in 64-bit fields: a type the models'
  // 32-bit counters cannot alias, so the compiler may keep them in
  // registers across the counter updates.
  uint64_t m_value = 0;
  uint64_t m_length = 0;
  bool m_failed = false;
};

VORLIN_LAZ_HOT uint32_t ArithmeticDecoder::decodeBit(ArithmeticBitModel& m) {
  uint32_t value = uint32_t(m_value), length = uint32_t(m_length);
  const uint32_t x = m.bit0Prob * (length >> kBitModelLengthShift);
  const uint32_t bit = value >= x;
  if (bit == 0) {
    length = x;
    ++m.bit0Count;
  } else {
    value -= x;
    length -= x;
  }
  m_value = value;
  m_length = length;
  if (length < kCoderMinLength) renormalize();
  if (--m.bitsUntilUpdate == 0) m.update();
  return bit;
}

VORLIN_LAZ_HOT uint32_t ArithmeticDecoder::readRaw(uint32_t bits) {
  const uint32_t length = uint32_t(m_length) >> bits;
  const uint32_t sym = uint32_t(m_value) / length;
  m_value = uint32_t(m_value) - length * sym;
  m_length = length;
  if (length < kCoderMinLength) renormalize();
  const uint32_t limit = 1u << bits;
  if (sym >= limit) {
    m_failed = true;
    return limit - 1;
  }
  return sym;
}

VORLIN_LAZ_HOT uint32_t ArithmeticDecoder::decodeSymbol(ArithmeticModel& m) {
  const uint32_t value = uint32_t(m_value);
  uint32_t length = uint32_t(m_length);
  uint32_t sym, x, y = length;
  if (m.decoderTable) {
    const uint32_t dv = value / (length >>= kSymbolModelLengthShift);
    // dv can pass 2^15 slightly (by under 64) in a valid stream, by far in
    // a damaged one; either way the last bucket is the right start.
    const uint32_t t = std::min(dv >> m.tableShift, m.tableSize);
    sym = m.decoderTable[t];
    uint32_t n = m.decoderTable[t + 1] + 1;
    while (n > sym + 1) {
      const uint32_t k = (sym + n) >> 1;
      if (m.distribution[k] > dv) n = k; else sym = k;
    }
    x = m.distribution[sym] * length;
    if (sym != m.lastSymbol) y = m.distribution[sym + 1] * length;
  } else {
    x = sym = 0;
    length >>= kSymbolModelLengthShift;
    uint32_t n = m.symbolCountTotal;
    uint32_t k = n >> 1;
    do {
      const uint32_t z = length * m.distribution[k];
      if (z > value) {
        n = k;
        y = z;
      } else {
        sym = k;
        x = z;
      }
    } while ((k = (sym + n) >> 1) != sym);
  }
  m_value = value - x;
  length = y - x;
  if (length == 0) {  // only a corrupt value can select an empty interval
    m_failed = true;
    length = kCoderMinLength;
  }
  m_length = length;
  if (length < kCoderMinLength) renormalize();
  ++m.symbolCount[sym];
  if (--m.symbolsUntilUpdate == 0) m.update();
  return sym;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
