#ifndef VORLIN_READERS_LAZ_ARITHMETIC_DECODER_H
#define VORLIN_READERS_LAZ_ARITHMETIC_DECODER_H

// The range decoder of the LAZ format, reading from a byte span. Damaged or
// short input never makes it read outside the span or index a model out of
// bounds: it yields zeros or clamped symbols and raises a sticky flag.

#include <cstddef>
#include <cstdint>

#include "readers/laz/arithmetic_model.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

class ArithmeticDecoder {
 public:
  // Starts decoding data[0, size), which must outlive the decoding; reads
  // the first four bytes at once. Clears the flag.
  void init(const uint8_t* data, size_t size);

  inline uint32_t decodeBit(ArithmeticBitModel& m);
  inline uint32_t decodeSymbol(ArithmeticModel& m);
  // Raw values: bits in [1, 32].
  uint32_t readBits(uint32_t bits);
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
  uint32_t readRaw(uint32_t bits);
  uint8_t nextByte() {
    if (m_pos < m_size) return m_data[m_pos++];
    m_failed = true;
    return 0;
  }
  void renormalize() {
    do {
      m_value = (m_value << 8) | nextByte();
    } while ((m_length <<= 8) < kCoderMinLength);
  }

  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
  size_t m_pos = 0;
  uint32_t m_value = 0;
  uint32_t m_length = 0;
  bool m_failed = false;
};

inline uint32_t ArithmeticDecoder::decodeBit(ArithmeticBitModel& m) {
  const uint32_t x = m.bit0Prob * (m_length >> kBitModelLengthShift);
  const uint32_t bit = m_value >= x;
  if (bit == 0) {
    m_length = x;
    ++m.bit0Count;
  } else {
    m_value -= x;
    m_length -= x;
  }
  if (m_length < kCoderMinLength) renormalize();
  if (--m.bitsUntilUpdate == 0) m.update();
  return bit;
}

inline uint32_t ArithmeticDecoder::decodeSymbol(ArithmeticModel& m) {
  uint32_t sym, x, y = m_length;
  if (m.decoderTable) {
    const uint32_t dv = m_value / (m_length >>= kSymbolModelLengthShift);
    uint32_t t = dv >> m.tableShift;
    if (t > m.tableSize) {  // the value lies outside the interval
      t = m.tableSize;
      m_failed = true;
    }
    sym = m.decoderTable[t];
    uint32_t n = m.decoderTable[t + 1] + 1;
    while (n > sym + 1) {
      const uint32_t k = (sym + n) >> 1;
      if (m.distribution[k] > dv) n = k; else sym = k;
    }
    x = m.distribution[sym] * m_length;
    if (sym != m.lastSymbol) y = m.distribution[sym + 1] * m_length;
  } else {
    x = sym = 0;
    m_length >>= kSymbolModelLengthShift;
    uint32_t n = m.symbolCountTotal;
    uint32_t k = n >> 1;
    do {
      const uint32_t z = m_length * m.distribution[k];
      if (z > m_value) {
        n = k;
        y = z;
      } else {
        sym = k;
        x = z;
      }
    } while ((k = (sym + n) >> 1) != sym);
  }
  m_value -= x;
  m_length = y - x;
  if (m_length < kCoderMinLength) {
    if (m_length == 0) {  // only a corrupt value can select an empty interval
      m_failed = true;
      m_length = kCoderMinLength;
    }
    renormalize();
  }
  ++m.symbolCount[sym];
  if (--m.symbolsUntilUpdate == 0) m.update();
  return sym;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
