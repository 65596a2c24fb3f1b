#include "platform/large_allocation.h"

#include <stdint.h>
#include <sys/mman.h>

namespace vorlin {
namespace platform {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

size_t RoundedToHugePages(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

bool UsesLargeAllocation(size_t bytes) {
  return !kSanitized && bytes >= kLargeAllocationThreshold;
}

void* AllocateLarge(size_t bytes) {
  const size_t rounded = RoundedToHugePages(bytes);
  if (rounded < bytes || rounded > SIZE_MAX - kHugePage) throw std::bad_alloc();
  // Map a huge page more than needed and keep the aligned middle, so that the
  // whole table can be backed by huge pages.
  const size_t span = rounded + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t begin = uintptr_t(raw);
  const uintptr_t aligned = (begin + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
  if (aligned > begin) munmap(raw, aligned - begin);
  const uintptr_t end = aligned + rounded;
  if (begin + span > end) munmap(reinterpret_cast<void*>(end), begin + span - end);
  // Only a hint: where huge pages are off, ordinary pages serve.
  madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void FreeLarge(void* memory, size_t bytes) {
  if (memory) munmap(memory, RoundedToHugePages(bytes));
}

}  // namespace platform
}  // namespace vorlin
