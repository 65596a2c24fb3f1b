#include "qzv_summary.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

namespace vorlin {
namespace cli {

namespace {

// Little-endian fields from a byte block whose length was checked already.
uint32_t U32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t U64(const unsigned char* p) { return uint64_t(U32(p)) | uint64_t(U32(p + 4)) << 32; }
int32_t I32(const unsigned char* p) {
  uint32_t v = U32(p);
  int32_t out;
  memcpy(&out, &v, sizeof out);
  return out;
}
double F64(const unsigned char* p) {
  uint64_t v = U64(p);
  double out;
  memcpy(&out, &v, sizeof out);
  return out;
}
float F32(const unsigned char* p) {
  uint32_t v = U32(p);
  float out;
  memcpy(&out, &v, sizeof out);
  return out;
}

class FileBytes {
 public:
  explicit FileBytes(int fd, int64_t size) : m_fd(fd), m_size(size) {}
  // Reads size bytes at offset into block; false when they lie beyond the
  // end of the file or the read fails.
  bool Read(uint64_t offset, uint64_t size, std::vector<unsigned char>& block) const {
    if (offset > uint64_t(m_size) || size > uint64_t(m_size) - offset) return false;
    block.resize(size_t(size));
    size_t done = 0;
    while (done < block.size()) {
      ssize_t got = pread(m_fd, block.data() + done, block.size() - done, off_t(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += size_t(got);
    }
    return true;
  }

 private:
  int m_fd;
  int64_t m_size;
};

class FdCloser {
 public:
  explicit FdCloser(int fd) : m_fd(fd) {}
  ~FdCloser() {
    if (m_fd >= 0) close(m_fd);
  }

 private:
  int m_fd;
};

bool Fail(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

bool Parse(const FileBytes& file, QzvSummary& s, std::string& error) {
  std::vector<unsigned char> b;
  if (!file.Read(0, 7, b) || memcmp(b.data(), "QZV", 3) != 0) {
    error = "not a QZV file (no QZV signature)";
    return false;
  }
  s.version = I32(b.data() + 3);
  if (s.version < 3 || s.version > 5) {
    error = "not a readable QZV file (version " + std::to_string(s.version) + ")";
    return false;
  }
  const bool v3 = s.version == 3;
  s.recordSize = v3 ? 16 : 20;
  uint64_t pos = 7;
  if (!v3) {
    if (!file.Read(pos, 12, b)) return Fail(error, "header cut short");
    s.revision = U32(b.data());
    s.fileIdentifier = U64(b.data() + 4);
    pos += 12;
  }
  if (!file.Read(pos, 9 * 8 + 3 * 4, b)) return Fail(error, "header cut short");
  for (int a = 0; a < 3; ++a) {
    s.minimum[a] = F64(b.data() + 8 * a);
    s.maximum[a] = F64(b.data() + 24 + 8 * a);
    s.centre[a] = F64(b.data() + 48 + 8 * a);
    s.cells[a] = I32(b.data() + 72 + 4 * a);
  }
  pos += 84;
  uint64_t n = 1;
  for (int a = 0; a < 3; ++a) {
    if (s.cells[a] < 1) {
      error = "grid of " + std::to_string(s.cells[0]) + " x " + std::to_string(s.cells[1]) +
              " x " + std::to_string(s.cells[2]) + " cells is not valid";
      return false;
    }
    n *= uint64_t(s.cells[a]);  // each factor < 2^31: the product fits in 64 bits
    // Every cell needs 16 bytes of tables, so n beyond the file size is damage.
    if (n > uint64_t(s.fileSize) / 16) {
      error = "grid of " + std::to_string(s.cells[0]) + " x " + std::to_string(s.cells[1]) +
              " x " + std::to_string(s.cells[2]) + " cells does not fit in the file";
      return false;
    }
  }
  if (s.version <= 4) {
    if (!file.Read(pos, 8, b)) return Fail(error, "header cut short");
    s.cellSize = F64(b.data());
    pos += 8;
    for (int a = 0; a < 3; ++a) {
      s.upperEdges[a].resize(size_t(s.cells[a]));
      for (int32_t i = 0; i < s.cells[a]; ++i) {
        s.upperEdges[a][size_t(i)] = double(i + 1) * s.cellSize + s.minimum[a];
      }
    }
  } else {
    for (int a = 0; a < 3; ++a) {
      if (!file.Read(pos, uint64_t(s.cells[a]) * 8, b)) {
        return Fail(error, "axis edges cut short");
      }
      s.upperEdges[a].resize(size_t(s.cells[a]));
      for (int32_t i = 0; i < s.cells[a]; ++i) {
        s.upperEdges[a][size_t(i)] = F64(b.data() + 8 * size_t(i));
      }
      pos += uint64_t(s.cells[a]) * 8;
    }
  }
  if (!file.Read(pos, 16 * n, b)) return Fail(error, "cell tables cut short");
  s.counts.resize(size_t(n));
  s.offsets.resize(size_t(n));
  s.lodValues.resize(size_t(n));
  for (uint64_t k = 0; k < n; ++k) {
    s.counts[k] = U32(b.data() + 4 * k);
    s.offsets[k] = U64(b.data() + 4 * n + 8 * k);
    s.lodValues[k] = F32(b.data() + 12 * n + 4 * k);
  }
  pos += 16 * n;
  if (s.offsets[0] >= pos && s.offsets[0] - pos >= 24) {
    if (!file.Read(pos, 12, b)) return Fail(error, "trailing block cut short");
    s.hasTrailer = true;
    s.unitsFactor = F64(b.data());
    s.attributeFlags = U32(b.data() + 8);
  }
  const uint64_t size = uint64_t(s.fileSize);
  for (uint64_t k = 0; k < n; ++k) {
    uint64_t bytes = uint64_t(s.counts[k]) * s.recordSize;
    if (s.offsets[k] > size || bytes > size - s.offsets[k]) {
      error = "cell " + std::to_string(k) + " lies beyond the end of the file (damaged or cut short)";
      return false;
    }
    s.totalPoints += s.counts[k];
    if (s.counts[k] > 0) ++s.nonEmptyCells;
  }
  return true;
}

}  // namespace

void QzvSummary::cellBox(uint64_t k, double lo[3], double hi[3]) const {
  uint64_t nz = uint64_t(cells[2]), ny = uint64_t(cells[1]);
  uint64_t index[3] = {k / (ny * nz), (k / nz) % ny, k % nz};
  for (int a = 0; a < 3; ++a) {
    size_t i = size_t(index[a]);
    lo[a] = i == 0 ? minimum[a] : upperEdges[a][i - 1];
    hi[a] = upperEdges[a][i];
  }
}

bool ReadQzvSummary(const std::string& path, QzvSummary& summary, std::string& error) {
  summary = QzvSummary();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENOENT ? "no such file" : std::string("cannot be read (") + strerror(errno) + ")";
    return false;
  }
  FdCloser closer(fd);
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return false;
  }
  summary.fileSize = int64_t(info.st_size);
  return Parse(FileBytes(fd, summary.fileSize), summary, error);
}

}  // namespace cli
}  // namespace vorlin
