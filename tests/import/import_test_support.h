#ifndef VORLIN_TESTS_IMPORT_IMPORT_TEST_SUPPORT_H
#define VORLIN_TESTS_IMPORT_IMPORT_TEST_SUPPORT_H

// Scripted readers, a recording progress object and a parser of written QZV
// files, shared by the import tests.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "format/little_endian.h"
#include "format/qzv_writer.h"
#include "vorlin/cell_point.h"
#include "vorlin/progress.h"
#include "vorlin/reader.h"

namespace import_test {

using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::IReader2;
using Zelvane::Vorlin::IVorlinProgress;

struct Point {
  double x = 0, y = 0, z = 0;
  unsigned char r = 0, g = 0, b = 0;
  unsigned char intensity = 0;
  float nx = 0, ny = 0, nz = 0;
  unsigned char custom = 0;
};

inline Point At(double x, double y, double z) {
  Point p;
  p.x = x, p.y = y, p.z = z;
  return p;
}

// What a scripted reader reports and how it misbehaves.
struct Script {
  std::vector<Point> points;
  bool boundsFromPoints = true;  // else minXYZ/maxXYZ below
  double minXYZ[3] = {0, 0, 0};
  double maxXYZ[3] = {0, 0, 0};
  long long announced = -1;  // -1: the number of points
  unsigned attributes = 0x1F;
  double units = 0.0;
  bool openResult = true;
  bool throwOnOpen = false;
  long long throwAtRead = -1;  // index of the read (over all passes) that throws
};

// A reader that plays a script and appends what is called on it to a log
// shared by all readers of a test: "<name>.Open", ".Stats", ".Units",
// ".First", ".Close", ".Destroyed".
template <class Base>
class ScriptedReaderT : public Base {
 public:
  ScriptedReaderT(std::string name, Script script, std::vector<std::string>* log)
      : m_name(std::move(name)), m_script(std::move(script)), m_log(log) {}
  ~ScriptedReaderT() override { Log("Destroyed"); }

  bool Open(const wchar_t* fileName) override {
    Log("Open");
    openedWith = fileName ? fileName : L"";
    if (m_script.throwOnOpen) throw std::runtime_error("open");
    return m_script.openResult;
  }
  void Close() override { Log("Close"); }
  bool FileStats(double* minXYZ, double* maxXYZ, unsigned long long& pointCount,
                 unsigned int& attributes) override {
    Log("Stats");
    const bool measure = m_script.boundsFromPoints && !m_script.points.empty();
    for (int a = 0; a < 3; ++a) {
      minXYZ[a] = measure ? Coord(m_script.points[0], a) : m_script.minXYZ[a];
      maxXYZ[a] = measure ? Coord(m_script.points[0], a) : m_script.maxXYZ[a];
      for (size_t i = 0; measure && i < m_script.points.size(); ++i) {
        minXYZ[a] = std::min(minXYZ[a], Coord(m_script.points[i], a));
        maxXYZ[a] = std::max(maxXYZ[a], Coord(m_script.points[i], a));
      }
    }
    pointCount = m_script.announced >= 0 ? (unsigned long long)m_script.announced
                                         : m_script.points.size();
    attributes = m_script.attributes;
    return true;
  }
  bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                      unsigned char& b) override {
    Log("First");
    m_next = 0;
    return Deliver(x, y, z, r, g, b);
  }
  bool ReadNextPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                     unsigned char& b) override {
    return Deliver(x, y, z, r, g, b);
  }
  double UnitsToFeetConversionFactor() override {
    Log("Units");
    return m_script.units;
  }

  std::wstring openedWith;
  long long reads = 0;

 protected:
  static double Coord(const Point& p, int a) { return a == 0 ? p.x : a == 1 ? p.y : p.z; }
  bool Deliver(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
               unsigned char& b) {
    if (m_script.throwAtRead >= 0 && reads == m_script.throwAtRead) {
      ++reads;
      throw std::runtime_error("read");
    }
    ++reads;
    if (m_next >= m_script.points.size()) return false;
    m_current = &m_script.points[m_next++];
    x = m_current->x, y = m_current->y, z = m_current->z;
    r = m_current->r, g = m_current->g, b = m_current->b;
    return true;
  }
  void Log(const char* what) {
    if (m_log) m_log->push_back(m_name + "." + what);
  }

  std::string m_name;
  Script m_script;
  std::vector<std::string>* m_log;
  size_t m_next = 0;
  const Point* m_current = nullptr;
};

// Only the plain reads.
using PlainReader = ScriptedReaderT<IReader>;
// An extended reader that keeps the default Ex bodies.
using DefaultExReader = ScriptedReaderT<IReader2>;

// An extended reader that delivers intensity, normal and custom byte.
class ExReader : public ScriptedReaderT<IReader2> {
 public:
  using ScriptedReaderT<IReader2>::ScriptedReaderT;
  bool ReadFirstPointEx(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                        unsigned char& b, unsigned char& intensity, float& nx, float& ny,
                        float& nz, unsigned char& custom) override {
    bool ok = ReadFirstPoint(x, y, z, r, g, b);
    Extras(ok, intensity, nx, ny, nz, custom);
    return ok;
  }
  bool ReadNextPointEx(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                       unsigned char& b, unsigned char& intensity, float& nx, float& ny,
                       float& nz, unsigned char& custom) override {
    bool ok = ReadNextPoint(x, y, z, r, g, b);
    Extras(ok, intensity, nx, ny, nz, custom);
    return ok;
  }

 private:
  void Extras(bool ok, unsigned char& intensity, float& nx, float& ny, float& nz,
              unsigned char& custom) {
    if (!ok) return;
    intensity = m_current->intensity, custom = m_current->custom;
    nx = m_current->nx, ny = m_current->ny, nz = m_current->nz;
  }
};

// Logs every call; cancels at the given isCancelled query (1-based; 0 never).
class RecordingProgress : public IVorlinProgress {
 public:
  void setProgress(double percent) override { calls.push_back("progress " + Num(percent)); }
  void reserved() override { calls.push_back("reserved"); }
  bool isCancelled() override {
    ++queries;
    calls.push_back("cancelled?");
    return cancelAt != 0 && queries >= cancelAt;
  }
  void setRange(double from, double to) override {
    calls.push_back("range " + Num(from) + " " + Num(to));
  }
  static std::string Num(double v) {
    char text[32];
    snprintf(text, sizeof(text), "%g", v);
    return text;
  }

  std::vector<std::string> calls;
  int queries = 0;
  int cancelAt = 0;
};

// A written QZV file, parsed for checking.
struct QzvFile {
  std::vector<uint8_t> bytes;
  int32_t version = 0;
  uint32_t revision = 0;
  uint64_t fileId = 0;
  double boundsMin[3], boundsMax[3], centre[3];
  int32_t n[3] = {0, 0, 0};
  double cellSize = 0;
  std::vector<uint32_t> counts;
  std::vector<uint64_t> offsets;
  std::vector<float> lods;
  double units = 0;
  uint32_t flags = 0;
  size_t firstRecord = 0;

  size_t Cells() const { return size_t(n[0]) * size_t(n[1]) * size_t(n[2]); }
  size_t Index(int ix, int iy, int iz) const {
    return (size_t(ix) * size_t(n[1]) + size_t(iy)) * size_t(n[2]) + size_t(iz);
  }
  CellPoint Record(size_t k, uint32_t i) const {
    return vorlin::format::UnpackCellPoint(bytes.data() + offsets[k] + 20ull * i);
  }
  std::vector<CellPoint> AllRecords() const {
    std::vector<CellPoint> all;
    for (size_t k = 0; k < Cells(); ++k) {
      for (uint32_t i = 0; i < counts[k]; ++i) all.push_back(Record(k, i));
    }
    return all;
  }
};

// Parses a version-4 file; false when it is too short for its own tables.
inline bool ReadQzv(const std::string& path, QzvFile& f) {
  using namespace vorlin::format;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const uint8_t* p = f.bytes.data();
  if (f.bytes.size() < 111 || memcmp(p, "QZV", 3) != 0) return false;
  f.version = GetI32(p + 3);
  f.revision = GetU32(p + 7);
  f.fileId = GetU64(p + 11);
  for (int a = 0; a < 3; ++a) {
    f.boundsMin[a] = GetF64(p + 19 + 8 * a);
    f.boundsMax[a] = GetF64(p + 43 + 8 * a);
    f.centre[a] = GetF64(p + 67 + 8 * a);
    f.n[a] = GetI32(p + 91 + 4 * a);
  }
  f.cellSize = GetF64(p + 103);
  size_t cells = f.Cells();
  if (f.bytes.size() < 111 + 16 * cells + 24) return false;
  const uint8_t* t = p + 111;
  f.counts.resize(cells);
  f.offsets.resize(cells);
  f.lods.resize(cells);
  for (size_t k = 0; k < cells; ++k) {
    f.counts[k] = GetU32(t + 4 * k);
    f.offsets[k] = GetU64(t + 4 * cells + 8 * k);
    f.lods[k] = GetF32(t + 12 * cells + 4 * k);
  }
  const uint8_t* trailer = t + 16 * cells;
  f.units = GetF64(trailer);
  f.flags = GetU32(trailer + 8);
  f.firstRecord = 111 + 16 * cells + 24 + ((f.flags & 0x20) ? 128 : 0);
  return true;
}

}  // namespace import_test

#endif
