#include "source_probe.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_common.h"
#include "vorlin/status.h"

namespace vorlin {
namespace cli {

namespace {

uint32_t U32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t U16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

// LAS 1.0-1.3 header fields; 1.4 adds a 64-bit count at 247.
constexpr size_t kLasMinimumHeader = 227;
constexpr size_t kLasCount64 = 247;

}  // namespace

std::string InputProblem(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "no such file";
    return std::string("cannot be examined (") + strerror(errno) + ")";
  }
  if (S_ISDIR(info.st_mode)) return "is a folder";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "is a device, not a file";
  if (S_ISFIFO(info.st_mode)) return "is a FIFO (named pipe), not a file";
  if (S_ISSOCK(info.st_mode)) return "is a socket, not a file";
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if (access(path.c_str(), R_OK) != 0) return std::string("cannot be read (") + strerror(errno) + ")";
  return std::string();
}

SourceFacts ProbeSource(const std::string& path) {
  SourceFacts facts;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    facts.problem = std::string("cannot be read (") + strerror(errno) + ")";
    return facts;
  }
  unsigned char header[256];
  ssize_t got = pread(fd, header, sizeof header, 0);
  struct stat info;
  const uint64_t size = fstat(fd, &info) == 0 ? uint64_t(info.st_size) : 0;
  close(fd);
  if (got < 0) got = 0;
  if (EndsWithNoCase(path, ".las")) {
    facts.las = true;
    if (got < 4 || memcmp(header, "LASF", 4) != 0) {
      facts.problem = "not a LAS file (no LASF signature)";
      return facts;
    }
    if (size_t(got) < kLasMinimumHeader) {
      facts.problem = "the LAS header is cut short";
      return facts;
    }
    const unsigned format = header[104] & 0x3Fu;
    if (format > 5) {
      facts.problem = "no points: point format " + std::to_string(format) +
                      " needs the source reader (the built-in reader reads formats 0 to 5; drop "
                      "--builtin-reader)";
      return facts;
    }
    facts.attributes = Zelvane::Vorlin::AttributeIntensity | Zelvane::Vorlin::AttributeCustom;
    if (format == 2 || format == 3 || format == 5) facts.attributes |= Zelvane::Vorlin::AttributeColor;
    facts.announced = U32(header + 107);
    if (facts.announced == 0 && size_t(got) >= kLasCount64 + 8 && header[24] == 1 && header[25] >= 4) {
      facts.announced = uint64_t(U32(header + kLasCount64)) | uint64_t(U32(header + kLasCount64 + 4)) << 32;
    }
    const uint64_t start = U32(header + 96);
    const uint16_t length = U16(header + 105);
    facts.held = length > 0 && start <= size ? (size - start) / length : 0;
    return facts;
  }
  // XYB: four text lines and four skipped bytes, then 26-byte records.
  size_t lines = 0, at = 0;
  while (at < size_t(got) && lines < 4) {
    if (header[at++] == '\n') ++lines;
  }
  facts.attributes = Zelvane::Vorlin::AttributeColor;
  if (lines == 4 && size > at + 4) facts.held = (size - at - 4) / 26;
  facts.announced = facts.held;
  return facts;
}

}  // namespace cli
}  // namespace vorlin
