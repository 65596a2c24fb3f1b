#include "readers/xyb_reader.h"

#include <stddef.h>
#include <stdint.h>

#include "base/little_endian.h"
#include "platform/file.h"
#include "readers/buffered_record_reader.h"

namespace Zelvane {
namespace Vorlin {

namespace {

using vorlin::format::GetF64;
using vorlin::format::GetU16;

constexpr int kHeaderLines = 4;
constexpr size_t kLineCapacity = 64;  // 63 bytes of text and a terminator
constexpr size_t kSkippedBytes = 4;
constexpr size_t kRecordSize = 26;
constexpr size_t kGreyOffset = 24;
static_assert(kGreyOffset + 2 == kRecordSize, "grey value ends the record");

const char* const kKeywords[kHeaderLines] = {"# FARO XYZ binary format ", "ScanPosition ",
                                             "Rows ", "Cols "};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool BeginsWithNoCase(const char* line, const char* keyword) {
  for (; *keyword; ++line, ++keyword) {
    if (*line == '\0' || LowerAscii(*line) != LowerAscii(*keyword)) return false;
  }
  return true;
}

struct XybRecord {
  double x, y, z;
  uint16_t grey;
  bool AtOrigin() const { return x == 0.0 && y == 0.0 && z == 0.0; }
};

XybRecord DecodeRecord(const uint8_t* p) {
  return XybRecord{GetF64(p), GetF64(p + 8), GetF64(p + 16), GetU16(p + kGreyOffset)};
}

}  // namespace

struct XYBReader::State {
  vorlin::platform::File file;
  std::unique_ptr<vorlin::BufferedRecordReader> records;
  char lines[kHeaderLines][kLineCapacity] = {};
  bool statsReady = false;
  unsigned long long count = 0;
  double min[3] = {0, 0, 0};
  double max[3] = {0, 0, 0};

  // Rewinds and reads the header; the records follow it.
  bool ParseHeader();
  bool NextRecord(XybRecord& record);
};

bool XYBReader::State::ParseHeader() {
  if (!records || !file.Seek(0)) return false;
  records->Empty();
  for (int line = 0; line < kHeaderLines; ++line) {
    size_t length = 0;
    for (;;) {
      char c;
      if (file.Read(&c, 1) != 1) return false;
      if (c == '\n') break;
      if (length == kLineCapacity - 1) return false;
      lines[line][length++] = c;
    }
    lines[line][length] = '\0';
  }
  uint8_t skipped[kSkippedBytes];
  if (!file.ReadExact(skipped, kSkippedBytes)) return false;
  for (int line = 0; line < kHeaderLines; ++line) {
    if (!BeginsWithNoCase(lines[line], kKeywords[line])) return false;
  }
  return true;
}

bool XYBReader::State::NextRecord(XybRecord& record) {
  uint8_t bytes[kRecordSize];
  do {
    if (!records || !records->Read(bytes, kRecordSize)) return false;
    record = DecodeRecord(bytes);
  } while (record.AtOrigin());
  return true;
}

XYBReader::XYBReader() : m_state(new State) {}

XYBReader::~XYBReader() = default;

bool XYBReader::Open(const wchar_t* fileName) {
  Close();
  if (fileName == nullptr) return false;
  State& s = *m_state;
  if (!vorlin::OpenRecordFile(fileName, s.file, s.records)) return false;
  if (!s.ParseHeader()) {
    Close();
    return false;
  }
  return true;
}

void XYBReader::Close() {
  State& s = *m_state;
  vorlin::CloseRecordFile(s.file, s.records);
}

bool XYBReader::FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                          unsigned int& attributes) {
  State& s = *m_state;
  attributes = 1;  // colour (the grey value)
  if (!s.statsReady) {
    if (!s.ParseHeader()) return false;
    unsigned long long count = 0;
    double min[3] = {1e30, 1e30, 1e30};
    double max[3] = {-1e30, -1e30, -1e30};
    XybRecord r;
    while (s.NextRecord(r)) {
      const double v[3] = {r.x, r.y, r.z};
      for (int axis = 0; axis < 3; ++axis) {
        if (v[axis] < min[axis]) min[axis] = v[axis];
        if (v[axis] > max[axis]) max[axis] = v[axis];
      }
      ++count;
    }
    s.count = count;
    for (int axis = 0; axis < 3; ++axis) {
      s.min[axis] = min[axis];
      s.max[axis] = max[axis];
    }
    s.statsReady = true;
  }
  for (int axis = 0; axis < 3; ++axis) {
    if (minXYZ) minXYZ[axis] = s.min[axis];
    if (maxXYZ) maxXYZ[axis] = s.max[axis];
  }
  pointCount = s.count;
  return true;
}

bool XYBReader::ReadFirstPoint(double& x, double& y, double& z, unsigned char& red,
                               unsigned char& green, unsigned char& blue) {
  if (!m_state->ParseHeader()) return false;
  return ReadNextPoint(x, y, z, red, green, blue);
}

bool XYBReader::ReadNextPoint(double& x, double& y, double& z, unsigned char& red,
                              unsigned char& green, unsigned char& blue) {
  XybRecord r;
  if (!m_state->NextRecord(r)) return false;
  x = r.x;
  y = r.y;
  z = r.z;
  // The scanner's grey values run to about 1900; 7.5 steps make one level.
  double level = double(r.grey) / 7.5;
  unsigned char grey = level >= 255.0 ? 255 : (unsigned char)level;
  red = green = blue = grey;
  return true;
}

double XYBReader::UnitsToFeetConversionFactor() { return 3.280839895013124; }

}  // namespace Vorlin
}  // namespace Zelvane
