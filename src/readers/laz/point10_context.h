#ifndef VORLIN_READERS_LAZ_POINT10_CONTEXT_H
#define VORLIN_READERS_LAZ_POINT10_CONTEXT_H

// Prediction contexts the LAZ point coders derive from a record's return
// number r and number of returns n (both 0-7).

#include <cstdint>

#include "readers/laz/streaming_median.h"

namespace Zelvane {
namespace Vorlin {
namespace laz {

// Which of 16 predictor sets a point uses, indexed [n][r]. Valid pairs
// (1 <= r <= n <= 5) get sets 0-14; the invalid pairs real files still
// carry (r or n zero, r > n, swapped fields) share the remaining ones.
constexpr uint8_t kReturnContext[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8},   {14, 0, 1, 3, 6, 10, 10, 9},
    {13, 1, 2, 4, 7, 11, 11, 10},     {12, 3, 4, 5, 8, 12, 12, 11},
    {11, 6, 7, 8, 9, 13, 13, 12},     {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14},  {8, 9, 10, 11, 12, 13, 14, 15}};

// Which of 8 height predictors, indexed [n][r]: returns equally far from
// the last one of their pulse tend to lie at similar heights.
inline uint32_t ReturnLevel(uint32_t n, uint32_t r) { return n > r ? n - r : r - n; }

}  // namespace laz
}  // namespace Vorlin
}  // namespace Zelvane

#endif
