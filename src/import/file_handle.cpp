#include "import/file_handle.h"

bool FileHandle::WriteAll(const void* buffer, size_t size, size_t& written) {
  written = 0;
  if (!m_file.IsValid()) return false;
  return m_file.Write(buffer, size, &written) && written == size;
}
