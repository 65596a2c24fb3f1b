#ifndef VORLIN_SYNTH_BYTES_H
#define VORLIN_SYNTH_BYTES_H

// Little-endian field encoding for the synthetic writers.

#include <stdint.h>
#include <string.h>

namespace synth {
namespace bytes {

inline void U16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void U32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void U64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void I32(uint8_t* p, int32_t v) { U32(p, uint32_t(v)); }
inline void F64(uint8_t* p, double v) {
  uint64_t bits;
  memcpy(&bits, &v, 8);
  U64(p, bits);
}

}  // namespace bytes
}  // namespace synth

#endif
