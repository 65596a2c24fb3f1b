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

  SpillBacking* m_backing;
  std::vector<uint64_t> m_extents;  // physical offset of each extent
  uint64_t m_capacity = 0;          // logical bytes the extents cover
  uint64_t m_size = 0;
  uint64_t m_position = 0;
};

// Sizes of the extents: the first is small so that a small file wastes
// little, later ones grow to keep large files in few pieces.
uint64_t SpillExtentSize(size_t index);

}  // namespace platform
}  // namespace vorlin

#endif
