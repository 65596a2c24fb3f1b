#ifndef VORLIN_READERS_LAZ_STREAMING_MEDIAN_H
#define VORLIN_READERS_LAZ_STREAMING_MEDIAN_H

// The coordinate predictor of the LAZ point coders (formats 0-10).

#include <cstdint>

namespace Zelvane {
namespace Vorlin {
namespace laz {

// The middle of the last five values, with the format's peculiar update:
// each new value evicts the largest or the smallest, alternating by which
// side of the middle the values have been arriving on.
class StreamingMedian5 {
 public:
  void reset() {
    for (int32_t& v : m_values) v = 0;
    m_high = true;
  }
  int32_t get() const { return m_values[2]; }
  // Free of branches: which side a value falls on follows the data, so a
  // branch here would be mispredicted about half the time. The largest
  // (high) or smallest value is dropped and v merged into the other four.
  void add(int32_t v) {
    const int32_t middle = m_values[2];
    const int drop = m_high ? 0 : 1;
    int32_t keep[4];
    for (int i = 0; i < 4; ++i) keep[i] = m_values[i + drop];
    m_values[0] = Min(keep[0], v);
    for (int i = 1; i < 4; ++i) m_values[i] = Max(keep[i - 1], Min(keep[i], v));
    m_values[4] = Max(keep[3], v);
    const bool below = v < middle, notAbove = !(middle < v);
    m_high = (m_high & below) | (!m_high & notAbove);
  }

 private:
  static int32_t Min(int32_t a, int32_t b) {
    const int32_t mask = -int32_t(a < b);
    return (a & mask) | (b & ~mask);
  }
  static int32_t Max(int32_t a, int32_t b) {
    const int32_t mask = -int32_t(a < b);
    return (b & mask) | (a & ~mask);
  }
  int32_t m_values[5] = {0, 0, 0, 0, 0};
  bool m_high = true;
};

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
