#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/fault_injection.h"
#include "platform/share_registry.h"
#include "platform/spill_store.h"
#include "platform/wide_string.h"

namespace vorlin {
namespace platform {
namespace {


FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

int OpenFlags(unsigned access) {
  int flags = O_CLOEXEC | O_NONBLOCK;  // never block on a FIFO; cleared after open
  if ((access & kAccessRead) && (access & kAccessWrite)) {
    flags |= O_RDWR;
  } else if (access & kAccessWrite) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  return flags;
}

}  // namespace

// A handle dropped without Close has no one left to tell; owners that can
// lose data (written files) close explicitly and check.
File::~File() { (void)Close(); }

File::File(File&& other) noexcept
    : m_fd(other.m_fd), m_registryId(other.m_registryId), m_spill(other.m_spill) {
  other.m_fd = -1;
  other.m_registryId = 0;
  other.m_spill = nullptr;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    (void)Close();  // as in the destructor
    m_fd = other.m_fd;
    m_registryId = other.m_registryId;
    m_spill = other.m_spill;
    other.m_fd = -1;
    other.m_registryId = 0;
    other.m_spill = nullptr;
  }
  return *this;
}

File File::Open(const wchar_t* path, unsigned access, unsigned share,
                Disposition disposition) {
  File file;
  if (!path || !*path) return file;
  if (detail::FaultHere(kFaultOpen, nullptr)) return file;
  std::string utf8 = ToUtf8(path);
  int flags = OpenFlags(access);
  if (disposition == Disposition::kCreateAlways) flags |= O_CREAT;
  // Knowing whether this call made the file lets a failure below take it away
  // again.
  bool created = false;
  int fd;
  do {
    fd = (flags & O_CREAT) ? ::open(utf8.c_str(), flags | O_EXCL, 0666) : -1;
    if (fd >= 0) {
      created = true;
    } else if (!(flags & O_CREAT) || errno == EEXIST) {
      fd = ::open(utf8.c_str(), flags, 0666);
    }
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return file;

  struct stat st;
  // Only regular files: directories, FIFOs and devices are refused as the
  // original platform refuses them for data files.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return file;
  }
  int fdFlags = ::fcntl(fd, F_GETFL);
  if (fdFlags >= 0) ::fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK);

  uint64_t regId;
  try {
    regId = RegisterOpen(IdentityOf(st), access, share);
  } catch (...) {  // an allocation failure goes to the caller, the file does not stay
    ::close(fd);
    if (created) ::unlink(utf8.c_str());
    throw;
  }
  if (regId == 0) {
    ::close(fd);  // refused by a share mode: nothing was truncated
    return file;
  }
  if (disposition == Disposition::kCreateAlways && st.st_size != 0 &&
      ::ftruncate(fd, 0) != 0) {
    UnregisterOpen(regId);
    ::close(fd);
    return file;
  }
  file.m_fd = fd;
  file.m_registryId = regId;
  return file;
}

int64_t File::Read(void* buffer, size_t size) {
  bool shortRead = false;
  if (detail::FaultHere(kFaultRead, &shortRead)) {
    if (!shortRead) return -1;
    size /= 2;
  }
  if (m_spill) return m_spill->Read(buffer, size);
  if (m_fd < 0) return -1;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(m_fd, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done ? int64_t(done) : -1;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return int64_t(done);
}

bool File::ReadExact(void* buffer, size_t size) {
  return Read(buffer, size) == int64_t(size);
}

bool File::ReadExactAt(void* buffer, size_t size, uint64_t offset) {
  bool shortRead = false;
  if (detail::FaultHere(kFaultRead, &shortRead)) {
    // A short read delivers some bytes; either way the call fails.
    if (shortRead && m_spill) (void)m_spill->ReadAt(buffer, size / 2, offset);
    return false;
  }
  if (m_spill) return m_spill->ReadAt(buffer, size, offset);
  if (m_fd < 0) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(m_fd, out + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += size_t(n);
  }
  return true;
}

bool File::Write(const void* buffer, size_t size, size_t* written) {
  bool shortWrite = false;
  if (detail::FaultHere(kFaultWrite, &shortWrite)) {
    if (written) *written = 0;
    if (!shortWrite) return false;
    size_t half = 0;
    (void)Write(buffer, size / 2, &half);  // the half that got through
    if (written) *written = half;
    return false;
  }
  if (m_spill) return m_spill->Write(buffer, size, written);
  if (written) *written = 0;
  if (m_fd < 0) return false;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(m_fd, in + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  if (written) *written = done;
  return done == size;
}

bool File::Seek(int64_t offset) {
  if (detail::FaultHere(kFaultSeek, nullptr)) return false;
  if (m_spill) return m_spill->Seek(offset);
  return m_fd >= 0 && offset >= 0 && ::lseek(m_fd, off_t(offset), SEEK_SET) >= 0;
}

bool File::SeekRelative(int64_t offset) {
  if (detail::FaultHere(kFaultSeek, nullptr)) return false;
  if (m_spill) return m_spill->SeekRelative(offset);
  return m_fd >= 0 && ::lseek(m_fd, off_t(offset), SEEK_CUR) >= 0;
}

int64_t File::Tell() const {
  if (m_spill) return m_spill->Tell();
  if (m_fd < 0) return -1;
  return int64_t(::lseek(m_fd, 0, SEEK_CUR));
}

int64_t File::Size() const {
  if (m_spill) return m_spill->Size();
  if (m_fd < 0) return -1;
  struct stat st;
  if (::fstat(m_fd, &st) != 0) return -1;
  return int64_t(st.st_size);
}

bool File::Close() {
  if (m_spill) {
    delete m_spill;
    m_spill = nullptr;
    return true;
  }
  if (m_fd < 0) return false;
  UnregisterOpen(m_registryId);
  m_registryId = 0;
  int rc = ::close(m_fd);
  m_fd = -1;
  return rc == 0;
}

File MakeTemporaryFile(SpillFile* spill) {
  File file;
  file.m_spill = spill;
  return file;
}

bool DeleteFileAt(const wchar_t* path) {
  if (!path || !*path) return false;
  std::string utf8 = ToUtf8(path);
  struct stat st;
  if (::lstat(utf8.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (!CanOpen(IdentityOf(st), kAccessDeleteBit, kShareRead | kShareWrite | kShareDelete)) {
    return false;
  }
  return ::unlink(utf8.c_str()) == 0;
}

bool CopyFileTo(const wchar_t* source, const wchar_t* target, bool failIfExists) {
  if (!source || !target) return false;
  File in = File::Open(source, kAccessRead, kShareRead, Disposition::kOpenExisting);
  if (!in.IsValid()) return false;
  if (failIfExists && PathExists(target)) return false;
  File out = File::Open(target, kAccessWrite, kShareNone, Disposition::kCreateAlways);
  if (!out.IsValid()) return false;
  std::vector<uint8_t> buffer(1 << 20);
  bool ok = true;
  for (;;) {
    int64_t n = in.Read(buffer.data(), buffer.size());
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!out.Write(buffer.data(), size_t(n))) {
      ok = false;
      break;
    }
  }
  if (!out.Close()) ok = false;
  if (!ok) (void)DeleteFileAt(target);  // already failed; nothing more to report
  return ok;
}

bool RenameFileOver(const wchar_t* source, const wchar_t* target) {
  if (!source || !*source || !target || !*target) return false;
  return ::rename(ToUtf8(source).c_str(), ToUtf8(target).c_str()) == 0;
}

bool PathExists(const wchar_t* path) {
  if (!path || !*path) return false;
  struct stat st;
  return ::stat(ToUtf8(path).c_str(), &st) == 0;
}

}  // namespace platform
}  // namespace vorlin
