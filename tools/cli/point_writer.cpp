#include "point_writer.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

namespace vorlin {
namespace cli {

PointWriter::PointWriter(Format format, const double centre[3]) : m_format(format) {
  for (int a = 0; a < 3; ++a) m_centre[a] = centre[a];
}

PointWriter::~PointWriter() {
  std::string ignored;
  if (m_file) Close(ignored);
}

bool PointWriter::Open(const std::string& path, std::string& error) {
  m_path = path;
  if (path.empty()) {
    m_file = stdout;
  } else {
    m_file = fopen(path.c_str(), "w");
    if (!m_file) {
      error = strerror(errno);
      return false;
    }
  }
  // Standard output keeps its own buffer: it outlives this object.
  if (m_file != stdout) {
    m_buffer.resize(1 << 20);
    setvbuf(m_file, m_buffer.data(), _IOFBF, m_buffer.size());
  }
  if (m_format == Format::kCsv) fputs("x,y,z,red,green,blue,intensity,normal,custom\n", m_file);
  return true;
}

void PointWriter::Write(const Zelvane::Vorlin::CellPoint* points, size_t count) {
  const char* pattern = m_format == Format::kCsv ? "%.6f,%.6f,%.6f,%u,%u,%u,%u,%u,%u\n"
                                                  : "%.6f %.6f %.6f %u %u %u %u %u %u\n";
  for (size_t i = 0; i < count && !m_failed; ++i) {
    const Zelvane::Vorlin::CellPoint& p = points[i];
    if (fprintf(m_file, pattern, m_centre[0] + double(p.x), m_centre[1] + double(p.y),
                m_centre[2] + double(p.z), (p.color >> 16) & 0xFFu, (p.color >> 8) & 0xFFu,
                p.color & 0xFFu, p.color >> 24, unsigned(p.normalIndex),
                unsigned(p.customAttribute)) < 0) {
      m_failed = true;
    }
  }
}

bool PointWriter::Close(std::string& error) {
  if (!m_file) return !m_failed;
  if (fflush(m_file) != 0 || ferror(m_file)) m_failed = true;
  if (!m_failed) error.clear();
  int savedErrno = errno;
  if (m_file != stdout) {
    if (fclose(m_file) != 0) m_failed = true;
    if (m_failed) unlink(m_path.c_str());
  }
  m_file = nullptr;
  if (m_failed) error = strerror(savedErrno ? savedErrno : EIO);
  return !m_failed;
}

}  // namespace cli
}  // namespace vorlin
