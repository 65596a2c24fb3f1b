#ifndef VORLIN_READERS_LAZ_INTEGER_COMPRESSOR_H
#define VORLIN_READERS_LAZ_INTEGER_COMPRESSOR_H

// Codes an integer as its difference from a prediction: first the number k
// of significant bits of the difference (per context), then the difference
// within its k-bit interval, the high bitsHigh bits modelled and any lower
// bits raw. Differences wrap within the value's bit width.

#include <cstdint>
#include <vector>

#include "readers/laz/arithmetic_decoder.h"
#include "readers/laz/arithmetic_encoder.h"
#include "readers/laz/arithmetic_model.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

class IntegerCompressor {
 public:
  // bits: width of the values (32 or more means no wrap); range, when not 0,
  // replaces 2^bits as the size of the wrap-around interval.
  explicit IntegerCompressor(uint32_t bits = 16, uint32_t contexts = 1, uint32_t bitsHigh = 8,
                             uint32_t range = 0);

  // Allocate the models on first use, reset them on each call (start of a
  // chunk). One compressor serves one direction.
  void initEncoder();
  void initDecoder();

  // context must be below contexts.
  void compress(ArithmeticEncoder& enc, int32_t pred, int32_t real, uint32_t context = 0);
  VORLIN_LAZ_HOT int32_t decompress(ArithmeticDecoder& dec, int32_t pred, uint32_t context = 0);
  // The k of the last value coded: a measure of how surprising it was, used
  // by callers as a context for the next value.
  uint32_t k() const { return m_k; }

 private:
  void initModels(bool compress);
  void writeCorrector(ArithmeticEncoder& enc, int32_t c, ArithmeticModel& kModel);
  VORLIN_LAZ_HOT int32_t readCorrector(ArithmeticDecoder& dec, ArithmeticModel& kModel);

  uint32_t m_contexts, m_bitsHigh;
  uint32_t m_corrBits, m_corrRange;
  int32_t m_corrMin, m_corrMax;
  uint32_t m_k = 0;
  std::vector<ArithmeticModel> m_kModels;         // one per context
  ArithmeticBitModel m_corrector0;                // k == 0: the difference is 0 or 1
  std::vector<ArithmeticModel> m_correctors;      // index k - 1 for k in [1, corrBits]
  bool m_modelsForEncoding = false;
};

VORLIN_LAZ_HOT int32_t IntegerCompressor::readCorrector(ArithmeticDecoder& dec, ArithmeticModel& kModel) {
  m_k = dec.decodeSymbol(kModel);
  const uint32_t k = m_k;
  if (k == 0) return int32_t(dec.decodeBit(m_corrector0));
  if (k >= 32) return m_corrMin;
  uint32_t c;
  if (k <= m_bitsHigh) {
    c = dec.decodeSymbol(m_correctors[k - 1]);
  } else {
    const uint32_t lowBits = k - m_bitsHigh;
    c = dec.decodeSymbol(m_correctors[k - 1]);
    c = (c << lowBits) | dec.readBits(lowBits);
  }
  // [0, 2^(k-1)) holds the negative differences, [2^(k-1), 2^k) the positive.
  // Selected without a branch: the sign of a difference is a coin toss.
  const uint32_t positive = c + 1, negative = c - ((1u << k) - 1);
  const uint32_t isPositive = 0u - uint32_t(c >= (1u << (k - 1)));
  return int32_t((positive & isPositive) | (negative & ~isPositive));
}

VORLIN_LAZ_HOT int32_t IntegerCompressor::decompress(ArithmeticDecoder& dec, int32_t pred, uint32_t context) {
  const uint32_t real = uint32_t(pred) + uint32_t(readCorrector(dec, m_kModels[context]));
  if (int32_t(real) < 0) return int32_t(real + m_corrRange);
  if (real >= m_corrRange) return int32_t(real - m_corrRange);
  return int32_t(real);
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
