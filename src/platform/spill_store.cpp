#include "platform/spill_store.h"

#include "platform/large_allocation.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string.h>

namespace vorlin {
namespace platform {
namespace {

constexpr int kFirstExtentShift = 13;  // 8 KiB
constexpr int kLastExtentShift = 20;   // 1 MiB
constexpr int kSizeClasses = kLastExtentShift - kFirstExtentShift + 1;

int SizeClass(size_t index) {
  return int(std::min<size_t>(index, size_t(kSizeClasses - 1)));
}

}  // namespace

uint64_t SpillExtentSize(size_t index) { return uint64_t(1) << (kFirstExtentShift + SizeClass(index)); }

// One unlinked file in a temporary directory holding the extents of every
// spill file made there. It closes when its last spill file goes.
class SpillBacking {
 public:
  ~SpillBacking() {
    for (uint8_t* slab : slabs) FreeLarge(slab, kSlabBytes);
  }
  // Memory extents are carved from slabs backed by huge pages where the
  // system has them: a fresh budget otherwise costs a page fault per 4 KiB.
  static constexpr size_t kSlabBytes = size_t(8) << 20;
  uint8_t* NewMemoryExtent(uint64_t size) {
    if (!UsesLargeAllocation(kSlabBytes)) return new (std::nothrow) uint8_t[size];
    if (slabLeft < size) {
      if (slabs.size() == slabs.capacity()) slabs.reserve(2 * slabs.size() + 4);
      slabNext = static_cast<uint8_t*>(AllocateLarge(kSlabBytes));
      slabs.push_back(slabNext);
      slabLeft = kSlabBytes;
    }
    uint8_t* memory = slabNext;
    slabNext += size;
    slabLeft -= size_t(size);
    return memory;
  }
  // Gives back an extent's memory for good (not for reuse).
  void DropMemoryExtent(uint8_t* memory) {
    if (!UsesLargeAllocation(kSlabBytes)) delete[] memory;
  }

  std::vector<uint8_t*> slabs;
  uint8_t* slabNext = nullptr;
  size_t slabLeft = 0;

  int fd = -1;
  std::string dir;
  uint64_t end = 0;  // first byte never handed out
  std::vector<uint64_t> freeExtents[kSizeClasses];
  std::vector<uint8_t*> freeMemory[kSizeClasses];  // memory extents kept for reuse
  size_t openFiles = 0;
};

namespace {

struct Backings {
  std::mutex mutex;
  std::map<std::string, SpillBacking*> byDir;
  uint64_t memoryBudget = kDefaultSpillMemoryBudget;
  uint64_t memoryHeld = 0;
};

Backings& TheBackings() {
  static Backings* backings = new Backings;  // lives until process exit
  return *backings;
}

int MakeUnlinkedFile(const std::string& dir) {
  std::string path = dir;
  if (path.empty() || path.back() != '/') path += '/';
  path += "vorlin-spill-XXXXXX";
  int fd;
  do {
    fd = ::mkostemp(&path[0], O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

}  // namespace

void SetSpillMemoryBudget(uint64_t bytes) {
  Backings& b = TheBackings();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.memoryBudget = bytes;
}

uint64_t SpillMemoryBudget() {
  Backings& b = TheBackings();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.memoryBudget;
}

uint64_t SpillMemoryHeld() {
  Backings& b = TheBackings();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.memoryHeld;
}

SpillFile* SpillFile::Create(const std::string& dir) {
  Backings& b = TheBackings();
  std::lock_guard<std::mutex> lock(b.mutex);
  // Everything that can throw comes before a descriptor is made or counted.
  std::unique_ptr<SpillBacking> made;
  SpillBacking*& backing = b.byDir[dir];
  if (!backing) {
    try {
      made.reset(new SpillBacking);
      made->dir = dir;
      made->fd = MakeUnlinkedFile(dir);
    } catch (...) {
      b.byDir.erase(dir);
      throw;
    }
    if (made->fd < 0) {
      b.byDir.erase(dir);
      return nullptr;
    }
  }
  SpillBacking* target = made ? made.get() : backing;
  SpillFile* file = new (std::nothrow) SpillFile(target);
  if (!file) {
    if (made) {
      ::close(made->fd);
      b.byDir.erase(dir);
    }
    throw std::bad_alloc();
  }
  if (made) backing = made.release();
  ++backing->openFiles;
  return file;
}

SpillFile::~SpillFile() {
  Backings& b = TheBackings();
  std::lock_guard<std::mutex> lock(b.mutex);
  // Destructors run during an allocation failure's unwinding: an extent that
  // cannot be listed as free stays unused until the backing file closes.
  for (size_t i = 0; i < m_extents.size(); ++i) {
    try {
      if (m_memory[i]) {
        m_backing->freeMemory[SizeClass(i)].push_back(m_memory[i]);
      } else {
        m_backing->freeExtents[SizeClass(i)].push_back(m_extents[i]);
      }
    } catch (const std::bad_alloc&) {
      if (m_memory[i]) {
        // Slab memory stays with its slab until the backing closes.
        m_backing->DropMemoryExtent(m_memory[i]);
        b.memoryHeld -= SpillExtentSize(i);
      }
    }
  }
  if (--m_backing->openFiles == 0) {
    for (int c = 0; c < kSizeClasses; ++c) {
      for (uint8_t* memory : m_backing->freeMemory[c]) m_backing->DropMemoryExtent(memory);
      b.memoryHeld -= uint64_t(m_backing->freeMemory[c].size()) * SpillExtentSize(size_t(c));
    }
    ::close(m_backing->fd);  // the disk space goes with it
    b.byDir.erase(m_backing->dir);
    delete m_backing;
  }
}

bool SpillFile::Reserve(uint64_t end) {
  if (end <= m_capacity) return true;
  Backings& b = TheBackings();
  std::lock_guard<std::mutex> lock(b.mutex);
  while (m_capacity < end) {
    const size_t index = m_extents.size();
    const uint64_t size = SpillExtentSize(index);
    // Room first, so that nothing taken below can be lost to a throw.
    if (m_extents.capacity() == index) m_extents.reserve(2 * index + 8);
    if (m_memory.capacity() == index) m_memory.reserve(2 * index + 8);
    // Memory while the budget lasts: the extent then never costs a system
    // call or page-cache writeback.
    std::vector<uint8_t*>& freeMemory = m_backing->freeMemory[SizeClass(index)];
    uint8_t* memory = nullptr;
    if (!freeMemory.empty()) {
      memory = freeMemory.back();
      freeMemory.pop_back();
    } else if (b.memoryHeld + size <= b.memoryBudget) {
      try {
        memory = m_backing->NewMemoryExtent(size);
      } catch (const std::bad_alloc&) {
        memory = nullptr;  // the file takes it
      }
      if (memory) b.memoryHeld += size;
    }
    std::vector<uint64_t>& freeList = m_backing->freeExtents[SizeClass(index)];
    uint64_t physical = 0;
    if (!memory && !freeList.empty()) {
      physical = freeList.back();
      freeList.pop_back();
    } else if (!memory) {
      physical = m_backing->end;
      m_backing->end += size;
    }
    m_extents.push_back(physical);
    m_memory.push_back(memory);
    m_capacity += size;
  }
  return true;
}

namespace {

// The extent holding logical byte at, and the logical offset where it starts.
void Locate(uint64_t at, size_t& index, uint64_t& extentStart) {
  index = 0;
  extentStart = 0;
  for (; index + 1 < size_t(kSizeClasses); ++index) {
    const uint64_t size = SpillExtentSize(index);
    if (at < extentStart + size) return;
    extentStart += size;
  }
  const uint64_t largest = SpillExtentSize(index);
  const uint64_t beyond = (at - extentStart) / largest;
  index += size_t(beyond);
  extentStart += beyond * largest;
}

}  // namespace

template <typename Io>
bool SpillFile::ForEachPiece(uint64_t offset, size_t size, Io io) const {
  size_t index;
  uint64_t extentStart;
  Locate(offset, index, extentStart);
  size_t done = 0;
  while (done < size) {
    const uint64_t extentSize = SpillExtentSize(index);
    const uint64_t within = offset + done - extentStart;
    const size_t length = size_t(std::min<uint64_t>(extentSize - within, size - done));
    if (!io(index, within, done, length)) return false;
    done += length;
    extentStart += extentSize;
    ++index;
  }
  return true;
}

bool SpillFile::ReadAt(void* buffer, size_t size, uint64_t offset) {
  if (offset > m_size || size > m_size - offset) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const int fd = m_backing->fd;
  return ForEachPiece(offset, size, [&](size_t index, uint64_t within, size_t at, size_t length) {
    if (m_memory[index]) {
      memcpy(out + at, m_memory[index] + within, length);
      return true;
    }
    const uint64_t physical = m_extents[index] + within;
    size_t got = 0;
    while (got < length) {
      ssize_t n = ::pread(fd, out + at + got, length - got, off_t(physical + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += size_t(n);
    }
    return true;
  });
}

int64_t SpillFile::Read(void* buffer, size_t size) {
  if (m_position >= m_size) return 0;
  const size_t available = size_t(std::min<uint64_t>(size, m_size - m_position));
  if (!ReadAt(buffer, available, m_position)) return -1;
  m_position += available;
  return int64_t(available);
}

bool SpillFile::Write(const void* buffer, size_t size, size_t* written) {
  if (written) *written = 0;
  if (size == 0) return true;
  if (!Reserve(m_position + size)) return false;
  if (m_position > m_size) ZeroMemoryGap(m_size, m_position);
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  const int fd = m_backing->fd;
  size_t done = 0;
  ForEachPiece(m_position, size, [&](size_t index, uint64_t within, size_t at, size_t length) {
    if (m_memory[index]) {
      memcpy(m_memory[index] + within, in + at, length);
      done += length;
      return true;
    }
    const uint64_t physical = m_extents[index] + within;
    size_t put = 0;
    while (put < length) {
      ssize_t n = ::pwrite(fd, in + at + put, length - put, off_t(physical + put));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      put += size_t(n);
    }
    done += length;
    return true;
  });
  m_position += done;
  m_size = std::max(m_size, m_position);
  if (written) *written = done;
  return done == size;
}

void SpillFile::ZeroMemoryGap(uint64_t from, uint64_t to) {
  // A file extent's gap reads as whatever the backing file holds there, as
  // before; memory is zeroed so that no stale bytes of a reused extent show.
  (void)ForEachPiece(from, size_t(to - from), [&](size_t index, uint64_t within, size_t, size_t length) {
    if (m_memory[index]) memset(m_memory[index] + within, 0, length);
    return true;
  });
}

bool SpillFile::Seek(int64_t offset) {
  if (offset < 0) return false;
  m_position = uint64_t(offset);
  return true;
}

bool SpillFile::SeekRelative(int64_t offset) {
  if (offset < 0 && uint64_t(-offset) > m_position) return false;
  m_position = uint64_t(int64_t(m_position) + offset);
  return true;
}

}  // namespace platform
}  // namespace vorlin
