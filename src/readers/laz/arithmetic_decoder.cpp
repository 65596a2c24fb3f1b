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
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | nextByte();
  m_value = value;
}

uint32_t ArithmeticDecoder::readWideBits(uint32_t bits) {
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
