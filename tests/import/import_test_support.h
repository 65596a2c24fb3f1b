#ifndef VORLIN_TESTS_IMPORT_IMPORT_TEST_SUPPORT_H
#define VORLIN_TESTS_IMPORT_IMPORT_TEST_SUPPORT_H

// Scripted readers, a recording progress object and a fixture that imports
// into a private folder.

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "import/point_cloud_importer.h"
#include "support/qzv_test_file.h"
#include "support/temp_dir.h"
#include "vorlin/qv_vorlin.h"

namespace import_test {

using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::IReader2;
using Zelvane::Vorlin::IVorlinProgress;

struct Point {
  double x = 0, y = 0, z = 0;
  unsigned char r = 0, g = 0, b = 0, intensity = 0;
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
  double minXYZ[3] = {0, 0, 0}, maxXYZ[3] = {0, 0, 0};
  long long announced = -1;  // -1: the number of points
  unsigned attributes = 0x1F;
  double units = 0.0;
  bool openResult = true, throwOnOpen = false;
  long long throwAtRead = -1;  // index of the read (over all passes) that throws
};

// Plays a script and logs the calls made on it ("<name>.Open", ".Stats",
// ".Units", ".First", ".Close") to a log shared by the readers of a test.
// With extras, the extended reads deliver intensity, normal and custom byte.
template <class Base, bool extras>
class ScriptedReaderT : public Base {
 public:
  ScriptedReaderT(std::string name, Script script, std::vector<std::string>* log)
      : m_name(std::move(name)), m_script(std::move(script)), m_log(log) {}

  bool Open(const wchar_t* fileName) override {
    Log("Open");
    openedWith = fileName ? fileName : L"";
    if (m_script.throwOnOpen) throw std::runtime_error("open");
    return m_script.openResult;
  }
  void Close() override { Log("Close"); }
  bool FileStats(double* lo, double* hi, unsigned long long& count, unsigned int& attributes) override {
    Log("Stats");
    const std::vector<Point>& p = m_script.points;
    const bool measure = m_script.boundsFromPoints && !p.empty();
    for (int a = 0; a < 3; ++a) {
      lo[a] = measure ? Coord(p[0], a) : m_script.minXYZ[a];
      hi[a] = measure ? Coord(p[0], a) : m_script.maxXYZ[a];
      for (size_t i = 0; measure && i < p.size(); ++i)
        lo[a] = std::min(lo[a], Coord(p[i], a)), hi[a] = std::max(hi[a], Coord(p[i], a));
    }
    count = m_script.announced >= 0 ? (unsigned long long)m_script.announced : p.size();
    attributes = m_script.attributes;
    return true;
  }
  bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                      unsigned char& b) override {
    Log("First");
    m_next = 0;
    return ReadNextPoint(x, y, z, r, g, b);
  }
  bool ReadNextPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                     unsigned char& b) override {
    if (reads++ == m_script.throwAtRead) throw std::runtime_error("read");
    if (m_next >= m_script.points.size()) return false;
    m_current = &m_script.points[m_next++];
    x = m_current->x, y = m_current->y, z = m_current->z;
    r = m_current->r, g = m_current->g, b = m_current->b;
    return true;
  }
  double UnitsToFeetConversionFactor() override {
    Log("Units");
    return m_script.units;
  }
  bool ReadFirstPointEx(double& x, double& y, double& z, unsigned char& r, unsigned char& g, unsigned char& b,
                        unsigned char& intensity, float& nx, float& ny, float& nz, unsigned char& custom) {
    if (!extras) return Base::ReadFirstPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom);
    return Extras(ReadFirstPoint(x, y, z, r, g, b), intensity, nx, ny, nz, custom);
  }
  bool ReadNextPointEx(double& x, double& y, double& z, unsigned char& r, unsigned char& g, unsigned char& b,
                       unsigned char& intensity, float& nx, float& ny, float& nz, unsigned char& custom) {
    if (!extras) return Base::ReadNextPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom);
    return Extras(ReadNextPoint(x, y, z, r, g, b), intensity, nx, ny, nz, custom);
  }

  std::wstring openedWith;
  long long reads = 0;

 private:
  static double Coord(const Point& p, int a) { return a == 0 ? p.x : a == 1 ? p.y : p.z; }
  bool Extras(bool ok, unsigned char& intensity, float& nx, float& ny, float& nz, unsigned char& custom) {
    if (ok) {
      intensity = m_current->intensity, custom = m_current->custom;
      nx = m_current->nx, ny = m_current->ny, nz = m_current->nz;
    }
    return ok;
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

using PlainReader = ScriptedReaderT<IReader, false>;       // only the plain reads
using DefaultExReader = ScriptedReaderT<IReader2, false>;  // the default extended reads
using ExReader = ScriptedReaderT<IReader2, true>;

// Logs every call; cancels at the given isCancelled query (1-based; 0 never).
class RecordingProgress : public IVorlinProgress {
 public:
  void setProgress(double percent) override { calls.push_back("progress " + Num(percent)); }
  void reserved() override { calls.push_back("reserved"); }
  bool isCancelled() override {
    calls.push_back("cancelled?");
    return cancelAt != 0 && ++queries >= cancelAt;
  }
  void setRange(double from, double to) override { calls.push_back("range " + Num(from) + " " + Num(to)); }
  static std::string Num(double v) {
    char text[32];
    snprintf(text, sizeof(text), "%g", v);
    return text;
  }

  std::vector<std::string> calls;
  int queries = 0;
  int cancelAt = 0;
};

// Imports into a private folder with its own temporary folder, and checks
// that nothing of an import stays open or on disk.
class ImportFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(m_tmp.c_str(), 0700);
    m_descriptors = vorlin_test::OpenDescriptors();
  }

  std::wstring Output() const { return m_dir.wfile("out.qzv"); }
  std::string OutputPath() const { return m_dir.file("out.qzv"); }
  bool OutputExists() const { return std::filesystem::exists(OutputPath()); }

  Zelvane::Vorlin::VorlinStatus Import(std::vector<IReader*> readers, IVorlinProgress* progress = nullptr,
                                       unsigned attributes = 0x1F, std::vector<std::wstring> names = {}) {
    while (names.size() < readers.size()) names.push_back(L"source.bin");
    std::vector<const wchar_t*> raw;
    for (const std::wstring& n : names) raw.push_back(n.c_str());
    std::wstring out = Output();
    return Zelvane::Vorlin::QvVorlin::import(raw.data(), out.c_str(), readers.data(), unsigned(readers.size()),
                                             progress, attributes);
  }
  // The same import through an importer whose copy buffer, resident block
  // budget and shuffle memory are set, so that cells take the large-cell
  // path and large sub-cells the windowed shuffle.
  Zelvane::Vorlin::VorlinStatus ImportLargeCellPath(IReader* reader, uint32_t copyBufferRecords,
                                                    size_t residentBlockBytes,
                                                    size_t shuffleBytes = size_t(48) << 20) {
    const wchar_t* names[1] = {L"source.bin"};
    IReader* readers[1] = {reader};
    std::wstring out = Output();
    PointCloudImporter importer;
    importer.copyBufferRecords = copyBufferRecords;
    importer.ordering.residentBlockBytes = residentBlockBytes;
    importer.ordering.shuffleBytes = shuffleBytes;
    return importer.RunImport(names, out.c_str(), readers, 1, nullptr, 0x1F);
  }
  qzv_test::ReadBack Written() {
    qzv_test::ReadBack f;
    EXPECT_TRUE(qzv_test::Read(OutputPath(), f));
    return f;
  }
  void ExpectNoLeftovers() {
    EXPECT_EQ(vorlin_test::OpenDescriptors(), m_descriptors);
    EXPECT_EQ(vorlin_test::Entries(m_tmp), 0u);
  }

  vorlin_test::TempDir m_dir;
  std::string m_tmp = m_dir.file("tmp");
  vorlin_test::ScopedTmpDir m_scoped{m_tmp};
  size_t m_descriptors = 0;
  std::vector<std::string> m_log;
};

}  // namespace import_test

#endif
