#include "xyb_writer.h"

#include <algorithm>

#include "format/little_endian.h"

namespace synth {

namespace {

constexpr size_t kRecordSize = 26;
constexpr size_t kFlushBytes = 1 << 20;

}  // namespace

XybStream::~XybStream() {
  if (m_file) Close();
}

bool XybStream::Open(const std::string& path, const XybOptions& options) {
  if (m_file) Close();
  m_options = options;
  m_buffer.clear();
  m_any = false;
  m_file = fopen(path.c_str(), "wb");
  if (!m_file) return false;
  std::string header;
  for (int i = 0; i < 4; ++i) {
    header += options.lines[i];
    if (i < 3 || !options.omitLastLineFeed) header += '\n';
  }
  header.append(4, '\0');  // four bytes the readers skip
  if (fwrite(header.data(), 1, header.size(), m_file) != header.size()) {
    fclose(m_file);
    m_file = nullptr;
    return false;
  }
  return true;
}

bool XybStream::Add(const XybPoint& point) {
  if (!m_file) return false;
  // The last record stays buffered until Close so it can be cut short.
  if (m_buffer.size() >= kFlushBytes) {
    if (fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size()) return false;
    m_buffer.clear();
  }
  uint8_t record[kRecordSize];
  vorlin::format::PutF64(record, point.x);
  vorlin::format::PutF64(record + 8, point.y);
  vorlin::format::PutF64(record + 16, point.z);
  vorlin::format::PutU16(record + 24, point.grey);
  m_buffer.insert(m_buffer.end(), record, record + kRecordSize);
  m_any = true;
  return true;
}

bool XybStream::Close() {
  if (!m_file) return false;
  size_t size = m_buffer.size();
  size_t cut = 0;
  if (m_any && m_options.truncateLastRecordBy > 0)
    cut = std::min({size_t(m_options.truncateLastRecordBy), kRecordSize, size});
  bool ok = size - cut == 0 || fwrite(m_buffer.data(), 1, size - cut, m_file) == size - cut;
  m_buffer.clear();
  if (fclose(m_file) != 0) ok = false;
  m_file = nullptr;
  return ok;
}

bool WriteXyb(const std::string& path, const std::vector<XybPoint>& points,
              const XybOptions& options) {
  XybStream stream;
  if (!stream.Open(path, options)) return false;
  for (const XybPoint& p : points) {
    if (!stream.Add(p)) {
      stream.Close();
      return false;
    }
  }
  return stream.Close();
}

}  // namespace synth
