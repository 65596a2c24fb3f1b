#ifndef VORLIN_IMPORT_FILE_HANDLE_H
#define VORLIN_IMPORT_FILE_HANDLE_H

#include <stddef.h>
#include <stdint.h>

#include <utility>

#include "platform/file.h"

// One output file handle as the writers use it. Owns the file; closes it on
// destruction if still open.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(vorlin::platform::File file) : m_file(std::move(file)) {}
  FileHandle(FileHandle&&) = default;
  FileHandle& operator=(FileHandle&&) = default;

  bool IsValid() const { return m_file.IsValid(); }
  // False when the handle is invalid, the write fails or comes short.
  [[nodiscard]] bool WriteAll(const void* buffer, size_t size, size_t& written);
  [[nodiscard]] bool Seek(int64_t offset) { return m_file.Seek(offset); }
  int64_t Tell() const { return m_file.Tell(); }
  [[nodiscard]] bool Close() { return m_file.Close(); }
  vorlin::platform::File& file() { return m_file; }

 private:
  vorlin::platform::File m_file;
};

#endif
