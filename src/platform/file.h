#ifndef VORLIN_PLATFORM_FILE_H
#define VORLIN_PLATFORM_FILE_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace vorlin {
namespace platform {

class SpillFile;

// Access rights a handle asks for.
enum Access : unsigned { kAccessRead = 1, kAccessWrite = 2 };

// What other handles on the same file may do while this one is open. Two
// handles conflict when either asks for an access the other does not share,
// as on the original platform; the check spans the whole process.
enum Share : unsigned { kShareNone = 0, kShareRead = 1, kShareWrite = 2, kShareDelete = 4 };

enum class Disposition {
  kOpenExisting,  // fail when the file does not exist
  kCreateAlways,  // create, or truncate an existing file
};

// One open file. Move-only; closes on destruction. Every transfer, seek and
// close reports its result, and the compiler refuses to let a caller drop it.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens path (UTF-8 on this platform, converted from the wide name).
  // Refused, without touching the file, when an open handle's share mode
  // forbids the access asked for or this share mode forbids an open
  // handle's access.
  static File Open(const wchar_t* path, unsigned access, unsigned share,
                   Disposition disposition);

  bool IsValid() const { return m_fd >= 0 || m_spill != nullptr; }

  // Reads up to size bytes at the current position; the count read, or -1.
  [[nodiscard]] int64_t Read(void* buffer, size_t size);
  // True only when all size bytes were read.
  [[nodiscard]] bool ReadExact(void* buffer, size_t size);
  // Reads at an absolute offset without moving the position; true only when
  // all size bytes were read.
  [[nodiscard]] bool ReadExactAt(void* buffer, size_t size, uint64_t offset);
  // Writes at the current position; written receives the count written.
  // True only when all size bytes were written.
  [[nodiscard]] bool Write(const void* buffer, size_t size, size_t* written = nullptr);

  [[nodiscard]] bool Seek(int64_t offset);          // from the start
  [[nodiscard]] bool SeekRelative(int64_t offset);  // from the current position
  int64_t Tell() const;               // -1 when invalid
  int64_t Size() const;               // -1 when invalid
  [[nodiscard]] bool Close();                       // false when closing failed or invalid

  // The OS descriptor, or -1 for an invalid handle or a temporary file.
  int NativeHandle() const { return m_fd; }

 private:
  friend File MakeTemporaryFile(SpillFile* spill);
  int m_fd = -1;
  uint64_t m_registryId = 0;
  SpillFile* m_spill = nullptr;  // temporary files live in a shared spill store
};

[[nodiscard]] bool DeleteFileAt(const wchar_t* path);
// Copies source to target, replacing target unless failIfExists.
[[nodiscard]] bool CopyFileTo(const wchar_t* source, const wchar_t* target, bool failIfExists);
// True when path names an existing regular file or directory.
bool PathExists(const wchar_t* path);
// Moves source over target in one step (replacing target), so readers of
// target see either the old file or the whole new one. Both must be on the
// same file system; false otherwise or when the move fails.
bool RenameFileOver(const wchar_t* source, const wchar_t* target);

}  // namespace platform
}  // namespace vorlin

#endif
