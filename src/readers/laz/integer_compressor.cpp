#include "readers/laz/integer_compressor.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

IntegerCompressor::IntegerCompressor(uint32_t bits, uint32_t contexts, uint32_t bitsHigh,
                                     uint32_t range)
    : m_contexts(contexts ? contexts : 1), m_bitsHigh(bitsHigh) {
  if (range) {
    m_corrBits = 0;
    for (uint32_t r = range; r; r >>= 1) ++m_corrBits;
    if (range == (1u << (m_corrBits - 1))) --m_corrBits;
    m_corrRange = range;
    m_corrMin = -int32_t(range / 2);
    m_corrMax = int32_t(uint32_t(m_corrMin) + range - 1);
  } else if (bits && bits < 32) {
    m_corrBits = bits;
    m_corrRange = 1u << bits;
    m_corrMin = -int32_t(m_corrRange / 2);
    m_corrMax = int32_t(uint32_t(m_corrMin) + m_corrRange - 1);
  } else {
    m_corrBits = 32;
    m_corrRange = 0;
    m_corrMin = INT32_MIN;
    m_corrMax = INT32_MAX;
  }
}

void IntegerCompressor::initModels(bool compress) {
  if (m_kModels.empty() || m_modelsForEncoding != compress) {
    m_kModels.clear();
    m_correctors.clear();
    m_kModels.reserve(m_contexts);
    for (uint32_t i = 0; i < m_contexts; ++i) m_kModels.emplace_back(m_corrBits + 1, compress);
    m_correctors.reserve(m_corrBits);
    for (uint32_t k = 1; k <= m_corrBits; ++k)
      m_correctors.emplace_back(1u << (k <= m_bitsHigh ? k : m_bitsHigh), compress);
    m_modelsForEncoding = compress;
  } else {
    for (ArithmeticModel& m : m_kModels) m.reset();
    for (ArithmeticModel& m : m_correctors) m.reset();
  }
  m_corrector0.reset();
  m_k = 0;
}

void IntegerCompressor::initEncoder() { initModels(true); }
void IntegerCompressor::initDecoder() { initModels(false); }

void IntegerCompressor::compress(ArithmeticEncoder& enc, int32_t pred, int32_t real,
                                 uint32_t context) {
  int32_t corr = int32_t(uint32_t(real) - uint32_t(pred));
  // Fold into [corrMin, corrMax]; a no-op for 32-bit values.
  if (corr < m_corrMin) corr = int32_t(uint32_t(corr) + m_corrRange);
  else if (corr > m_corrMax) corr = int32_t(uint32_t(corr) - m_corrRange);
  writeCorrector(enc, corr, m_kModels[context]);
}

void IntegerCompressor::writeCorrector(ArithmeticEncoder& enc, int32_t c, ArithmeticModel& kModel) {
  // k is the smallest with c in [-(2^k - 1), 2^k].
  uint32_t magnitude = c <= 0 ? 0u - uint32_t(c) : uint32_t(c) - 1;
  uint32_t k = 0;
  while (magnitude) {
    magnitude >>= 1;
    ++k;
  }
  m_k = k;
  enc.encodeSymbol(kModel, k);
  if (k == 0) {
    enc.encodeBit(m_corrector0, uint32_t(c));
    return;
  }
  if (k >= 32) return;  // only the most negative value needs 32 bits: implied
  uint32_t u = c < 0 ? uint32_t(c) + ((1u << k) - 1) : uint32_t(c) - 1;
  if (k <= m_bitsHigh) {
    enc.encodeSymbol(m_correctors[k - 1], u);
  } else {
    const uint32_t lowBits = k - m_bitsHigh;
    enc.encodeSymbol(m_correctors[k - 1], u >> lowBits);
    enc.writeBits(lowBits, u & ((1u << lowBits) - 1));
  }
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
