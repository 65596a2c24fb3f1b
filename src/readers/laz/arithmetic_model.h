#ifndef VORLIN_READERS_LAZ_ARITHMETIC_MODEL_H
#define VORLIN_READERS_LAZ_ARITHMETIC_MODEL_H

// Adaptive probability models of the LAZ range coder. Their update schedule
// and rounding are part of the file format: a decoder only reproduces a
// stream when its models evolve exactly as the encoder's did.

#include <cstdint>
#include <memory>

namespace Zelvane {
namespace Vorlin {
namespace laz {

// Interval lengths below this are renormalised by shifting out a byte.
constexpr uint32_t kCoderMinLength = 0x01000000u;
constexpr uint32_t kCoderMaxLength = 0xFFFFFFFFu;
constexpr uint32_t kBitModelLengthShift = 13;
constexpr uint32_t kBitModelMaxCount = 1u << kBitModelLengthShift;
constexpr uint32_t kSymbolModelLengthShift = 15;
constexpr uint32_t kSymbolModelMaxCount = 1u << kSymbolModelLengthShift;
constexpr uint32_t kSymbolModelMaxSymbols = 1u << 11;

// Probability of a single binary decision.
class ArithmeticBitModel {
 public:
  ArithmeticBitModel() { reset(); }
  void reset() {
    bit0Count = 1;
    bitCount = 2;
    bit0Prob = 1u << (kBitModelLengthShift - 1);
    updateCycle = bitsUntilUpdate = 4;
  }
  // Recomputes the probability from the counts; the coders call it when
  // bitsUntilUpdate runs out.
  void update();

  uint32_t updateCycle, bitsUntilUpdate;
  uint32_t bit0Prob, bit0Count, bitCount;
};

// Distribution over 2 to 2048 symbols. A decoding model of more than 16
// symbols keeps a lookup table from the top bits of a code value to the
// first candidate symbol; encoding models do not need it, which is why the
// constructor asks for the direction.
class ArithmeticModel {
 public:
  // symbols outside [2, 2048] is a programming error; it is clamped.
  explicit ArithmeticModel(uint32_t symbols, bool compress = false);
  ArithmeticModel(ArithmeticModel&&) noexcept = default;
  ArithmeticModel& operator=(ArithmeticModel&&) noexcept = default;
  ArithmeticModel(const ArithmeticModel&) = delete;
  ArithmeticModel& operator=(const ArithmeticModel&) = delete;

  // Back to the uniform distribution every stream starts from.
  void reset();
  void update();
  uint32_t symbols() const { return symbolCountTotal; }

  // Storage layout: distribution[symbols], counts[symbols], table[tableSize + 2].
  std::unique_ptr<uint32_t[]> storage;
  uint32_t* distribution = nullptr;
  uint32_t* symbolCount = nullptr;
  uint32_t* decoderTable = nullptr;  // null without a table
  uint32_t totalCount = 0, updateCycle = 0, symbolsUntilUpdate = 0;
  uint32_t symbolCountTotal = 0, lastSymbol = 0, tableSize = 0, tableShift = 0;
  bool compress = false;
};

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
