#include "platform/mapped_range.h"

#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace vorlin {
namespace platform {

MappedRange::~MappedRange() { Unmap(); }

bool MappedRange::Map(const File& file, uint64_t offset, size_t size) {
  Unmap();
  if (file.NativeHandle() < 0 || size == 0) return false;
  const long page = sysconf(_SC_PAGESIZE);
  if (page <= 0) return false;
  const uint64_t start = offset - offset % uint64_t(page);
  const size_t lead = size_t(offset - start);
  if (size > SIZE_MAX - lead) return false;
  void* base = mmap(nullptr, size + lead, PROT_READ, MAP_PRIVATE, file.NativeHandle(), off_t(start));
  if (base == MAP_FAILED) return false;
  m_base = base;
  m_length = size + lead;
  m_data = static_cast<const uint8_t*>(base) + lead;
  m_size = size;
  return true;
}

void MappedRange::AdviseSequential() {
  if (m_base) madvise(m_base, m_length, MADV_SEQUENTIAL);
}

bool MappedRange::DropPages() {
  return m_base && madvise(m_base, m_length, MADV_DONTNEED) == 0;
}

void MappedRange::Unmap() {
  if (m_base) munmap(m_base, m_length);
  m_base = nullptr;
  m_length = 0;
  m_data = nullptr;
  m_size = 0;
}

bool OnLocalFileSystem(const File& file) {
  const int fd = file.NativeHandle();
  if (fd < 0) return false;
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<uint64_t>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0xCA451A4E:  // bcachefs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlayfs
      return true;
    default:
      return false;  // network, FUSE and anything unknown: plain reads
  }
}

}  // namespace platform
}  // namespace vorlin
