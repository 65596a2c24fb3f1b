#ifndef VORLIN_READERS_LAZ_LAYERED_GPS_TIME_H
#define VORLIN_READERS_LAZ_LAYERED_GPS_TIME_H

// GPS times of one scanner channel. Times are coded as integer differences of
// the doubles' bit patterns, predicted from the previous difference times a
// small multiplier. Up to four interleaved time sequences are tracked (as
// when a scanner alternates between mirror facets); a time far from the
// current sequence either joins another or starts a new one, coded in full.

#include <cstdint>
#include <memory>

#include "readers/laz/layered_coder.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

struct GpsTimeState {
  explicit GpsTimeState(bool compress);
  void start(uint64_t firstTime);

  std::unique_ptr<ArithmeticModel> multiplier;     // after a non-zero difference
  std::unique_ptr<ArithmeticModel> afterZeroDiff;  // after a zero difference
  std::unique_ptr<IntegerCompressor> differences;
  uint32_t last = 0, next = 0;
  uint64_t time[4] = {};
  int32_t diff[4] = {};
  int32_t extremes[4] = {};  // consecutive outlying differences
};

// Decodes the next time into state.time[state.last]. False on data no
// encoder produces (endless switching between sequences).
[[nodiscard]] bool DecodeGpsTime(ArithmeticDecoder& dec, GpsTimeState& state);
void EncodeGpsTime(ArithmeticEncoder& enc, GpsTimeState& state, uint64_t time);

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
