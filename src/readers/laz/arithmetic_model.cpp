#include "readers/laz/arithmetic_model.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

void ArithmeticBitModel::update() {
  // Halve the counts before they overflow the probability's precision.
  if ((bitCount += updateCycle) > kBitModelMaxCount) {
    bitCount = (bitCount + 1) >> 1;
    bit0Count = (bit0Count + 1) >> 1;
    if (bit0Count == bitCount) ++bitCount;
  }
  const uint32_t scale = 0x80000000u / bitCount;
  bit0Prob = (bit0Count * scale) >> (31 - kBitModelLengthShift);
  updateCycle = (5 * updateCycle) >> 2;
  if (updateCycle > 64) updateCycle = 64;
  bitsUntilUpdate = updateCycle;
}

ArithmeticModel::ArithmeticModel(uint32_t symbols, bool compressing) : compress(compressing) {
  if (symbols < 2) symbols = 2;
  if (symbols > kSymbolModelMaxSymbols) symbols = kSymbolModelMaxSymbols;
  symbolCountTotal = symbols;
  lastSymbol = symbols - 1;
  size_t words = 2 * size_t(symbols);
  if (!compress && symbols > 16) {
    // The table only speeds up the search, it never changes a result, so
    // its size is free: 256 buckets or more leave most lookups a single
    // candidate, which saves the hot loop many mispredicted branches.
    uint32_t tableBits = 8;
    while (symbols > (1u << (tableBits + 2))) ++tableBits;
    tableSize = 1u << tableBits;
    tableShift = kSymbolModelLengthShift - tableBits;
    words += tableSize + 2;
  }
  storage.reset(new uint32_t[words]());
  distribution = storage.get();
  symbolCount = distribution + symbols;
  decoderTable = tableSize ? symbolCount + symbols : nullptr;
  reset();
}

void ArithmeticModel::reset() {
  totalCount = 0;
  updateCycle = symbolCountTotal;
  for (uint32_t k = 0; k < symbolCountTotal; ++k) symbolCount[k] = 1;
  update();
  symbolsUntilUpdate = updateCycle = (symbolCountTotal + 6) >> 1;
}

void ArithmeticModel::update() {
  const uint32_t symbols = symbolCountTotal;
  if ((totalCount += updateCycle) > kSymbolModelMaxCount) {
    totalCount = 0;
    for (uint32_t n = 0; n < symbols; ++n) totalCount += (symbolCount[n] = (symbolCount[n] + 1) >> 1);
  }
  const uint32_t scale = 0x80000000u / totalCount;
  uint32_t sum = 0;
  if (decoderTable == nullptr) {
    for (uint32_t k = 0; k < symbols; ++k) {
      distribution[k] = (scale * sum) >> (31 - kSymbolModelLengthShift);
      sum += symbolCount[k];
    }
  } else {
    // The table maps the top bits of a code value to the first symbol whose
    // interval may hold it.
    uint32_t s = 0;
    for (uint32_t k = 0; k < symbols; ++k) {
      distribution[k] = (scale * sum) >> (31 - kSymbolModelLengthShift);
      sum += symbolCount[k];
      const uint32_t w = distribution[k] >> tableShift;
      while (s < w) decoderTable[++s] = k - 1;
    }
    decoderTable[0] = 0;
    while (s <= tableSize) decoderTable[++s] = symbols - 1;
  }
  updateCycle = (5 * updateCycle) >> 2;
  const uint32_t maxCycle = (symbols + 6) << 3;
  if (updateCycle > maxCycle) updateCycle = maxCycle;
  symbolsUntilUpdate = updateCycle;
}

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane
