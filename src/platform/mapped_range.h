#ifndef VORLIN_PLATFORM_MAPPED_RANGE_H
#define VORLIN_PLATFORM_MAPPED_RANGE_H

#include <stddef.h>
#include <stdint.h>

#include "platform/file.h"

namespace vorlin {
namespace platform {

// A read-only view of part of an open file. The system pages it in as it is
// read and may drop clean pages again, so reading a long range front to back
// holds little of it in memory at once. Move-free; unmaps on destruction.
class MappedRange {
 public:
  MappedRange() = default;
  ~MappedRange();
  MappedRange(const MappedRange&) = delete;
  MappedRange& operator=(const MappedRange&) = delete;

  // Maps size bytes of file from offset; false (and nothing mapped) when the
  // file is not a plain open file or the system refuses. The file may be
  // closed afterwards; the view stays valid until Unmap.
  bool Map(const File& file, uint64_t offset, size_t size);
  void Unmap();
  // Tells the system the view is read front to back.
  void AdviseSequential();
  // Unmaps every page of the view from this process (the file's data stays in
  // the page cache); reading the view again faults pages back in. False when
  // nothing is mapped or the system refuses.
  bool DropPages();

  const uint8_t* data() const { return m_data; }
  size_t size() const { return m_size; }

 private:
  void* m_base = nullptr;
  size_t m_length = 0;
  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
};

// True when file lies on a file system of this machine's own disks or
// memory. A mapped page that cannot be read (a file cut short, a network
// server that fails) stops the process with a signal where a read would
// return an error, so long-lived mappings are kept to these file systems.
bool OnLocalFileSystem(const File& file);

}  // namespace platform
}  // namespace vorlin

#endif
