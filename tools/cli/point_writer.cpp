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

bool PointWriter::OpenLas(const std::string& target, std::string& error) {
  // A decimal step no coarser than the stored floats' resolution near the
  // centre, with the centre itself as offset, keeps every position.
  m_lasScale = std::pow(10.0, -std::min(m_decimals, 9));
  Zelvane::Vorlin::LasSourceInfo layout;
  layout.versionMinor = 4;
  layout.pointFormat = 7;
  layout.recordLength = 36;
  for (int a = 0; a < 3; ++a) {
    m_lasOffset[a] = std::round(m_centre[a]);
    layout.scale[a] = m_lasScale;
    layout.offset[a] = m_lasOffset[a];
  }
  Zelvane::Vorlin::LasWriteOptions options;
  options.compress = m_format == Format::kLaz;
  options.boundsFromRecords = true;
  m_las.reset(new LasOutput);
  // The caller has checked the name already; this adds the LAS-specific checks.
  if (!m_las->Prepare("query", target, true, "") || !m_las->Open("query", layout, options)) {
    error = "see above";
    m_las.reset();
    return false;
  }
  return true;
}

void PointWriter::WriteLas(const Zelvane::Vorlin::CellPoint* points, size_t count) {
  m_records.assign(count * 36, 0);
  for (size_t i = 0; i < count; ++i) {
    const Zelvane::Vorlin::CellPoint& p = points[i];
    uint8_t* r = m_records.data() + i * 36;
    const float offset[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      const double world = m_centre[a] + double(offset[a]);
      const int32_t stored = int32_t(std::llround((world - m_lasOffset[a]) / m_lasScale));
      memcpy(r + 4 * a, &stored, 4);  // little-endian machines only, like the rest of the tool
    }
    const uint16_t intensity = uint16_t((p.color >> 24) * 257u);
    memcpy(r + 12, &intensity, 2);
    r[14] = 0x11;  // first of one return
    r[16] = p.customAttribute;
    const uint16_t rgb[3] = {uint16_t(((p.color >> 16) & 0xFFu) * 257u),
                             uint16_t(((p.color >> 8) & 0xFFu) * 257u), uint16_t((p.color & 0xFFu) * 257u)};
    memcpy(r + 30, rgb, 6);
  }
  if (count > 0 && !m_las->Write("query", m_records.data(), count)) {
    m_failed = true;
    m_errno = EIO;
  }
}

bool PointWriter::Open(const std::string& target, std::string& error) {
  if (m_format == Format::kLas || m_format == Format::kLaz) return OpenLas(target, error);
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
  if (m_las) {
    if (!m_failed) WriteLas(points, count);
    return;
  }
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
  if (m_las) {
    const bool ok = !m_failed && m_las->Close("query");
    m_las.reset();
    if (!ok) error = "see above";
    return ok;
  }
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
