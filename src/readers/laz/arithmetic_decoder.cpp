#include "readers/laz/arithmetic_decoder.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

void ArithmeticDecoder::init(const uint8_t* data, size_t size) {
  m_data = data;
  m_size = data ? size : 0;
  m_pos = 0;
  m_failed = false;
  m_length = kCoderMaxLength;
  m_value = 0;
  for (int i = 0; i < 4; ++i) m_value = (m_value << 8) | nextByte();
}

uint32_t ArithmeticDecoder::readRaw(uint32_t bits) {
  const uint32_t sym = m_value / (m_length >>= bits);
  m_value -= m_length * sym;
  if (m_length < kCoderMinLength) renormalize();
  const uint32_t limit = 1u << bits;
  if (sym >= limit) {
    m_failed = true;
    return limit - 1;
  }
  return sym;
}

uint32_t ArithmeticDecoder::readBits(uint32_t bits) {
  if (bits == 0) return 0;
  if (bits > 32) bits = 32;
  // Wide values go as a low 16-bit half first, then the rest.
  if (bits > 19) {
    const uint32_t low = readShort();
    return (readBits(bits - 16) << 16) | low;
  }
  return readRaw(bits);
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
