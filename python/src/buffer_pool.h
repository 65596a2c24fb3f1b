#ifndef VORLIN_PYTHON_BUFFER_POOL_H
#define VORLIN_PYTHON_BUFFER_POOL_H

#include <stddef.h>

#include <mutex>
#include <vector>

namespace vorlin {
namespace python {

// Keeps the memory of the last two large point arrays freed, so that a
// program fetching again and again (a viewer, a benchmark) reuses pages that
// are already mapped instead of faulting in fresh ones every time. Owned by
// one cloud and emptied when it closes. Thread-safe; never needs the GIL.
class BufferPool {
 public:
  BufferPool() = default;
  ~BufferPool() { Clear(); }
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // At least bytes of memory (*capacity receives how much); throws
  // std::bad_alloc.
  void* Take(size_t bytes, size_t* capacity);
  // Gives memory from Take back (or frees it when the pool is full).
  void Give(void* data, size_t capacity);
  void Clear();

 private:
  struct Block {
    void* data;
    size_t capacity;
  };
  static constexpr size_t kMaxBlocks = 2;
  // Smaller arrays come from malloc's own free lists just as cheaply.
  static constexpr size_t kMinPooled = size_t(1) << 20;

  std::mutex m_mutex;
  std::vector<Block> m_blocks;
};

}  // namespace python
}  // namespace vorlin

#endif
