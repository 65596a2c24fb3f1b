#include "import/file_handle.h"

bool FileHandle::WriteAll(const void* buffer, size_t size, size_t& written) {
  written = 0;
  if (!m_file.IsValid()) return false;
  return m_file.Write(buffer, size, &written) && written == size;
}

bool FileHandle::Seek(uint32_t low, int32_t high, bool fromCurrent) {
  int64_t distance = int64_t((uint64_t(uint32_t(high)) << 32) | low);
  return fromCurrent ? m_file.SeekRelative(distance) : m_file.Seek(distance);
}
