#include "platform/random.h"

#include <time.h>

namespace vorlin {
namespace platform {
namespace {

// Each thread has its own generator, as the original runtime library gives.
thread_local uint32_t g_state = 1;

}  // namespace

int Rand() {
  g_state = g_state * 214013u + 2531011u;
  return int((g_state >> 16) & 0x7FFF);
}

void Srand(unsigned int seed) { g_state = seed; }

int64_t CalendarTimeSeconds() { return int64_t(::time(nullptr)); }

}  // namespace platform
}  // namespace vorlin
