#ifndef VORLIN_PLATFORM_LARGE_ALLOCATION_H
#define VORLIN_PLATFORM_LARGE_ALLOCATION_H

#include <stddef.h>

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace vorlin {
namespace platform {

// Tables of many megabytes (a million-cell grid) are filled once and then
// read. Touching fresh memory page by page costs milliseconds per megabyte
// in a virtual machine; backed by huge pages the same table costs about a
// millisecond. Below the threshold, and in sanitizer builds (which must see
// every allocation), memory comes from operator new as usual.
constexpr size_t kLargeAllocationThreshold = size_t(4) << 20;

// bytes of memory, at least kLargeAllocationThreshold; throws std::bad_alloc.
void* AllocateLarge(size_t bytes);
void FreeLarge(void* memory, size_t bytes);
bool UsesLargeAllocation(size_t bytes);

// An allocator for containers of plain records: large blocks take the path
// above, and elements are default-initialised, so that growing a table does
// not first clear memory that is about to be filled.
template <typename T>
class LargeAllocator {
 public:
  using value_type = T;
  LargeAllocator() noexcept = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    if (n > size_t(-1) / sizeof(T)) throw std::bad_alloc();
    const size_t bytes = n * sizeof(T);
    if (UsesLargeAllocation(bytes)) return static_cast<T*>(AllocateLarge(bytes));
    return static_cast<T*>(::operator new(bytes));
  }
  void deallocate(T* p, size_t n) noexcept {
    const size_t bytes = n * sizeof(T);
    if (UsesLargeAllocation(bytes)) {
      FreeLarge(p, bytes);
    } else {
      ::operator delete(p);
    }
  }
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const noexcept { return true; }
  template <typename U>
  bool operator!=(const LargeAllocator<U>&) const noexcept { return false; }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace platform
}  // namespace vorlin

#endif
