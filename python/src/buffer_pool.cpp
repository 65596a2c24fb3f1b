#include "buffer_pool.h"

#include <stdlib.h>

#include <new>

namespace vorlin {
namespace python {

void* BufferPool::Take(size_t bytes, size_t* capacity) {
  if (bytes >= kMinPooled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A block fits when it is large enough without wasting more than half.
    for (size_t i = 0; i < m_blocks.size(); ++i) {
      if (m_blocks[i].capacity >= bytes && m_blocks[i].capacity / 2 <= bytes) {
        Block block = m_blocks[i];
        m_blocks.erase(m_blocks.begin() + std::ptrdiff_t(i));
        *capacity = block.capacity;
        return block.data;
      }
    }
  }
  void* data = malloc(bytes ? bytes : 1);
  if (!data) throw std::bad_alloc();
  *capacity = bytes;
  return data;
}

void BufferPool::Give(void* data, size_t capacity) {
  if (capacity >= kMinPooled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_blocks.size() < kMaxBlocks) {
      m_blocks.push_back({data, capacity});
      return;
    }
    // Keep the larger blocks: they serve the requests that fault most.
    for (Block& block : m_blocks) {
      if (block.capacity < capacity) {
        std::swap(block.data, data);
        std::swap(block.capacity, capacity);
        break;
      }
    }
  }
  free(data);
}

void BufferPool::Clear() {
  std::vector<Block> blocks;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    blocks.swap(m_blocks);
  }
  for (const Block& block : blocks) free(block.data);
}

}  // namespace python
}  // namespace vorlin
