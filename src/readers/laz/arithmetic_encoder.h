#ifndef VORLIN_READERS_LAZ_ARITHMETIC_ENCODER_H
#define VORLIN_READERS_LAZ_ARITHMETIC_ENCODER_H

// The range encoder of the LAZ format, appending to a byte vector.

#include <cstdint>
#include <vector>

#include "readers/laz/arithmetic_model.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

class ArithmeticEncoder {
 public:
  // Starts a stream appended to *out (bytes already there are kept). out
  // must stay alive until done.
  void init(std::vector<uint8_t>* out);

  inline void encodeBit(ArithmeticBitModel& m, uint32_t bit);
  inline void encodeSymbol(ArithmeticModel& m, uint32_t sym);
  // Raw values: bits in [1, 32], value below 2^bits.
  void writeBits(uint32_t bits, uint32_t value);
  void writeByte(uint8_t value) { writeRaw(8, value); }
  void writeShort(uint16_t value) { writeRaw(16, value); }
  void writeInt(uint32_t value) {
    writeShort(uint16_t(value));
    writeShort(uint16_t(value >> 16));
  }
  void writeInt64(uint64_t value) {
    writeInt(uint32_t(value));
    writeInt(uint32_t(value >> 32));
  }
  // Writes the final bytes a decoder needs to resolve the last symbol.
  void done();

 private:
  void writeRaw(uint32_t bits, uint32_t value) {
    const uint32_t before = m_base;
    m_base += value * (m_length >>= bits);
    if (before > m_base) propagateCarry();
    if (m_length < kCoderMinLength) renormalize();
  }
  void propagateCarry();
  void renormalize() {
    do {
      m_out->push_back(uint8_t(m_base >> 24));
      m_base <<= 8;
    } while ((m_length <<= 8) < kCoderMinLength);
  }

  std::vector<uint8_t>* m_out = nullptr;
  size_t m_start = 0;  // where this stream's bytes begin in *m_out
  uint32_t m_base = 0;
  uint32_t m_length = 0;
};

inline void ArithmeticEncoder::encodeBit(ArithmeticBitModel& m, uint32_t bit) {
  const uint32_t x = m.bit0Prob * (m_length >> kBitModelLengthShift);
  if (bit == 0) {
    m_length = x;
    ++m.bit0Count;
  } else {
    const uint32_t before = m_base;
    m_base += x;
    m_length -= x;
    if (before > m_base) propagateCarry();
  }
  if (m_length < kCoderMinLength) renormalize();
  if (--m.bitsUntilUpdate == 0) m.update();
}

inline void ArithmeticEncoder::encodeSymbol(ArithmeticModel& m, uint32_t sym) {
  if (sym > m.lastSymbol) sym = m.lastSymbol;  // a caller fault; keep the stream valid
  const uint32_t before = m_base;
  uint32_t x;
  if (sym == m.lastSymbol) {
    x = m.distribution[sym] * (m_length >> kSymbolModelLengthShift);
    m_base += x;
    m_length -= x;
  } else {
    x = m.distribution[sym] * (m_length >>= kSymbolModelLengthShift);
    m_base += x;
    m_length = m.distribution[sym + 1] * m_length - x;
  }
  if (before > m_base) propagateCarry();
  if (m_length < kCoderMinLength) renormalize();
  ++m.symbolCount[sym];
  if (--m.symbolsUntilUpdate == 0) m.update();
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
