#include "readers/laz/arithmetic_encoder.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

void ArithmeticEncoder::init(std::vector<uint8_t>* out) {
  m_out = out;
  m_start = out->size();
  m_base = 0;
  m_length = kCoderMaxLength;
}

void ArithmeticEncoder::propagateCarry() {
  // The carry can never pass this stream's first byte: the code value stays
  // below the initial interval.
  size_t i = m_out->size();
  while (i > m_start) {
    uint8_t& byte = (*m_out)[--i];
    if (byte != 0xFF) {
      ++byte;
      return;
    }
    byte = 0;
  }
}

void ArithmeticEncoder::writeBits(uint32_t bits, uint32_t value) {
  if (bits == 0) return;
  if (bits > 19) {
    writeShort(uint16_t(value));
    value >>= 16;
    bits -= 16;
  }
  writeRaw(bits, value & ((bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1)));
}

void ArithmeticEncoder::done() {
  if (m_out == nullptr) return;
  // Pick a value inside the final interval that needs as few bytes as
  // possible, then pad so the decoder's four-byte look-ahead stays in bounds.
  const uint32_t before = m_base;
  bool anotherByte = true;
  if (m_length > 2 * kCoderMinLength) {
    m_base += kCoderMinLength;
    m_length = kCoderMinLength >> 1;
  } else {
    m_base += kCoderMinLength >> 1;
    m_length = kCoderMinLength >> 9;
    anotherByte = false;
  }
  if (before > m_base) propagateCarry();
  renormalize();
  m_out->push_back(0);
  m_out->push_back(0);
  if (anotherByte) m_out->push_back(0);
  m_out = nullptr;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
