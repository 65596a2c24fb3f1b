#ifndef VORLIN_ENGINE_SHARE_MATH_H
#define VORLIN_ENGINE_SHARE_MATH_H

#include <stdint.h>

namespace vorlin {

// Truncates toward zero into 0..UINT32_MAX; NaN and negatives give 0. Shares
// come from ratios of file values, so they may fall outside the range.
inline uint32_t TruncToU32(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 4294967295.0) return UINT32_MAX;
  return uint32_t(v);
}

// Truncates toward zero, saturating at the 32-bit signed limits; NaN gives 0.
inline int64_t TruncToI32(double v) {
  if (v != v) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int64_t(v);
}

// Share of a cell rounded half up: value * ratio + 0.5, truncated.
inline uint32_t RoundedShare(double value, double ratio) { return TruncToU32(value * ratio + 0.5); }

}  // namespace vorlin

#endif
