#include "point_writer.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace vorlin {
namespace cli {

int CoordinateDecimals(double halfExtent) {
  if (!(halfExtent > 0.0) || !std::isfinite(halfExtent)) return 6;
  // One float step at the largest offset, and one digit beyond it.
  const double step = halfExtent * std::ldexp(1.0, -23);
  return std::max(3, std::min(15, int(std::ceil(-std::log10(step))) + 1));
}

namespace {

// The fewest decimals whose value still gives back the stored offset: data
// written on a scale of 0.001 prints with three decimals, not as the float's
// binary neighbourhood of it.
int ShortestDecimals(double world, double centre, float offset, int most) {
  double scale = 1.0;
  for (int d = 0; d < most; ++d, scale *= 10.0) {
    if (float(std::round(world * scale) / scale - centre) == offset) return d;
  }
  return most;
}

}  // namespace

PointWriter::PointWriter(Format format, const double centre[3], int decimals)
    : m_format(format), m_decimals(decimals) {
  for (int a = 0; a < 3; ++a) m_centre[a] = centre[a];
}

PointWriter::~PointWriter() {
  if (m_file && m_file != stdout) fclose(m_file);
}

bool PointWriter::Open(const std::string& target, std::string& error) {
  if (target.empty()) {
    m_file = stdout;
  } else {
    if (!m_output.Create(target, error)) return false;
    int fd = dup(m_output.fd());
    m_file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!m_file) {
      if (fd >= 0) close(fd);
      error = strerror(errno);
      m_output.Abandon();
      return false;
    }
    // Standard output keeps its own buffer: it outlives this object.
    m_buffer.resize(1 << 20);
    setvbuf(m_file, m_buffer.data(), _IOFBF, m_buffer.size());
  }
  if (m_format == Format::kCsv && fputs("x,y,z,red,green,blue,intensity,normal,custom\n", m_file) < 0) {
    m_failed = true;
    m_errno = errno;
  }
  return true;
}

void PointWriter::Write(const Zelvane::Vorlin::CellPoint* points, size_t count) {
  const char* pattern = m_format == Format::kCsv ? "%.*f,%.*f,%.*f,%u,%u,%u,%u,%u,%u\n"
                                                  : "%.*f %.*f %.*f %u %u %u %u %u %u\n";
  for (size_t i = 0; i < count && !m_failed; ++i) {
    const Zelvane::Vorlin::CellPoint& p = points[i];
    const float offset[3] = {p.x, p.y, p.z};
    double world[3];
    int d[3];
    for (int a = 0; a < 3; ++a) {
      world[a] = m_centre[a] + double(offset[a]);
      d[a] = ShortestDecimals(world[a], m_centre[a], offset[a], m_decimals);
    }
    if (fprintf(m_file, pattern, d[0], world[0], d[1], world[1], d[2], world[2],
                (p.color >> 16) & 0xFFu, (p.color >> 8) & 0xFFu,
                p.color & 0xFFu, p.color >> 24, unsigned(p.normalIndex),
                unsigned(p.customAttribute)) < 0) {
      m_failed = true;
      m_errno = errno;
    }
  }
}

bool PointWriter::Close(std::string& error) {
  if (!m_file) return !m_failed;
  if (fflush(m_file) != 0 || ferror(m_file)) {
    if (!m_failed) m_errno = errno;
    m_failed = true;
  }
  if (m_file != stdout) {
    if (fclose(m_file) != 0 && !m_failed) {
      m_failed = true;
      m_errno = errno;
    }
    m_file = nullptr;
    if (m_failed) {
      m_output.Abandon();
    } else if (!m_output.Commit(error)) {
      return false;
    }
  }
  m_file = nullptr;
  if (m_failed) error = strerror(m_errno ? m_errno : EIO);
  return !m_failed;
}

}  // namespace cli
}  // namespace vorlin
