#ifndef VORLIN_PLATFORM_RANDOM_H
#define VORLIN_PLATFORM_RANDOM_H

#include <stdint.h>

namespace vorlin {
namespace platform {

// The classic runtime generator: results 0..32767, per-thread state that
// starts as if seeded with 1.
constexpr int kRandMax = 32767;
int Rand();
void Srand(unsigned int seed);

// Seconds since the epoch.
int64_t CalendarTimeSeconds();

}  // namespace platform
}  // namespace vorlin

#endif
