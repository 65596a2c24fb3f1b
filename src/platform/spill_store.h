#ifndef VORLIN_PLATFORM_SPILL_STORE_H
#define VORLIN_PLATFORM_SPILL_STORE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace vorlin {
namespace platform {

class SpillBacking;

// A temporary file that lives inside one shared, already unlinked backing
// file per temporary directory. An import may need a spill file for each of
// a hundred thousand cells; this way they cost extents of one descriptor
// instead of a descriptor each, and the process's open-file limit does not
// bound the grid.
class SpillFile {
 public:
  // A new empty file in dir; null when no backing file can be made there.
  static SpillFile* Create(const std::string& dir);
  ~SpillFile();  // returns the extents to the backing store
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  [[nodiscard]] int64_t Read(void* buffer, size_t size);
  [[nodiscard]] bool ReadAt(void* buffer, size_t size, uint64_t offset);
  [[nodiscard]] bool Write(const void* buffer, size_t size, size_t* written);
  [[nodiscard]] bool Seek(int64_t offset);
  [[nodiscard]] bool SeekRelative(int64_t offset);
  int64_t Tell() const { return int64_t(m_position); }
  int64_t Size() const { return int64_t(m_size); }

 private:
  explicit SpillFile(SpillBacking* backing) : m_backing(backing) {}
  // Makes sure extents cover logical bytes [0, end); false when the backing
  // file cannot grow.
  bool Reserve(uint64_t end);
  // Calls io(physicalOffset, bufferOffset, length) for each extent piece of
  // [offset, offset + size); stops at the first false.
  template <typename Io>
  bool ForEachPiece(uint64_t offset, size_t size, Io io) const;

  // Zeroes the logical bytes [from, to) held in memory extents (a write past
  // the end leaves such a gap).
  void ZeroMemoryGap(uint64_t from, uint64_t to);

  SpillBacking* m_backing;
  std::vector<uint64_t> m_extents;  // physical offset of each file extent
  std::vector<uint8_t*> m_memory;   // per extent: its memory, or null when in the file
  uint64_t m_capacity = 0;          // logical bytes the extents cover
  uint64_t m_size = 0;
  uint64_t m_position = 0;
};

// Bytes of spill extents that may live in memory instead of the backing file,
// across all spill files of the process; extents beyond it go to the file.
// The memory is held while any spill file is open and released when the last
// one closes. Default kDefaultSpillMemoryBudget; a change applies to extents
// taken afterwards. Any thread. This is the larger part of an import's fixed
// memory bound; the rest is listed where the importer is declared.
constexpr uint64_t kDefaultSpillMemoryBudget = uint64_t(64) << 20;
void SetSpillMemoryBudget(uint64_t bytes);
uint64_t SpillMemoryBudget();
// Bytes of memory the spill extents hold now (in use or kept for reuse).
uint64_t SpillMemoryHeld();

// Sizes of the extents: the first is small so that a small file wastes
// little, later ones grow to keep large files in few pieces.
uint64_t SpillExtentSize(size_t index);

}  // namespace platform
}  // namespace vorlin

#endif
