#ifndef VORLIN_IMPORT_NORMAL_CODE_H
#define VORLIN_IMPORT_NORMAL_CODE_H

#include <stdint.h>

namespace vorlin {

constexpr uint16_t kNormalNorthPole = 0;
constexpr uint16_t kNormalSouthPole = 4094;
constexpr uint16_t kNoNormal = 4095;

// The 12-bit code of the nearest code-book direction to (x, y, z); 4095 for
// vectors shorter than 1e-6 and for NaN components.
uint16_t NormalCode(double x, double y, double z);

// The unit direction of a code (the zero vector for 4095).
void NormalDirection(uint16_t code, double out[3]);

}  // namespace vorlin

#endif
