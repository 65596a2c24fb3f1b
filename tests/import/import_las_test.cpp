#include <filesystem>
#include <fstream>
#include <iterator>

#include "import/point_cloud_importer.h"
#include "import_test_support.h"
#include "platform/random.h"
#include "readers/las_reader.h"
#include "synth/synth.h"

namespace {

using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::QvVorlin;
namespace vs = Zelvane::Vorlin;

using LasImport = import_test::ImportFixture;

// Two small clusters at opposite corners of a 12.25 x 10 x 0.75 box, so that
// only a few cells hold points.
std::vector<synth::LasPoint> Grid(int n) {
  std::vector<synth::LasPoint> points;
  for (int i = 0; i < n; ++i) {
    synth::LasPoint p;
    const double far = (i % 2) ? 1.0 : 0.0;
    p.x = 1000.0 + far * 12.25 - far * (i % 5) * 0.01 + (1 - far) * (i % 5) * 0.01;
    p.y = 2000.0 + far * 10.0 - far * (i % 3) * 0.01 + (1 - far) * (i % 3) * 0.01;
    p.z = 10.0 + far * 0.75;
    p.intensity = uint16_t(i % 200);
    p.classification = uint8_t(i % 20);
    p.red = uint16_t(i % 256);
    points.push_back(p);
  }
  return points;
}

// A host reader that hands every call to a built-in LAS reader, so that the
// import reads the file one point per call.
class ForwardingReader : public vs::IReader2 {
 public:
  bool Open(const wchar_t* name) override { return m_las.Open(name); }
  void Close() override { m_las.Close(); }
  bool FileStats(double* lo, double* hi, unsigned long long& n, unsigned int& a) override {
    return m_las.FileStats(lo, hi, n, a);
  }
  bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                      unsigned char& b) override {
    return m_las.ReadFirstPoint(x, y, z, r, g, b);
  }
  bool ReadNextPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                     unsigned char& b) override {
    return m_las.ReadNextPoint(x, y, z, r, g, b);
  }
  double UnitsToFeetConversionFactor() override { return m_las.UnitsToFeetConversionFactor(); }
  bool ReadFirstPointEx(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                        unsigned char& b, unsigned char& i, float& nx, float& ny, float& nz,
                        unsigned char& c) override {
    return m_las.ReadFirstPointEx(x, y, z, r, g, b, i, nx, ny, nz, c);
  }
  bool ReadNextPointEx(double& x, double& y, double& z, unsigned char& r, unsigned char& g,
                       unsigned char& b, unsigned char& i, float& nx, float& ny, float& nz,
                       unsigned char& c) override {
    return m_las.ReadNextPointEx(x, y, z, r, g, b, i, nx, ny, nz, c);
  }

 private:
  vs::LasReader m_las;
};

std::vector<uint8_t> ImportedBytes(const std::wstring& source, IReader* reader,
                                   const std::string& output) {
  std::wstring woutput(output.begin(), output.end());
  const wchar_t* names[1] = {source.c_str()};
  IReader* readers[1] = {reader};
  PointCloudImporter importer;
  importer.fixedSeed = true;
  importer.seed = 5;
  vorlin::platform::Srand(5);  // the file id
  EXPECT_EQ(importer.RunImport(names, woutput.c_str(), readers, 1, nullptr, 0x1F), 0);
  std::ifstream in(output, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The binning reads the built-in and the source reader in batches and
// refills; the file must come out as when a reader is read point by point,
// including
// 16-bit colour and intensity that first appear in the middle of a batch
// (from there on both are reduced to 8 bits).
TEST_F(LasImport, BatchedReadsMatchPointByPointReads) {
  std::vector<synth::LasPoint> points = Grid(20000);
  points[9500].red = 700;
  points[12345].intensity = 1000;
  ASSERT_TRUE(synth::WriteLas(m_dir.file("scan.las"), points));
  const std::wstring las = m_dir.wfile("scan.las");
  std::vector<uint8_t> batched = ImportedBytes(las, nullptr, m_dir.file("batched.qzv"));
  ForwardingReader forwarding;
  std::vector<uint8_t> single = ImportedBytes(las, &forwarding, m_dir.file("single.qzv"));
  vs::SourceReader source;
  std::vector<uint8_t> sourceBatched = ImportedBytes(las, &source, m_dir.file("source.qzv"));
  ASSERT_GT(batched.size(), 20000u * 20u);
  EXPECT_TRUE(batched == single);
  EXPECT_TRUE(sourceBatched == single);
  ExpectNoLeftovers();
}

TEST_F(LasImport, BuiltinReaderIsChosenByExtensionInAnyCase) {
  const std::string las = m_dir.file("SCAN.LAS");
  ASSERT_TRUE(synth::WriteLas(las, Grid(1200)));
  std::wstring out = Output();
  std::wstring wlas = m_dir.wfile("SCAN.LAS");
  ASSERT_EQ(QvVorlin::import(wlas.c_str(), out.c_str(), nullptr, 0x1F), vs::Ok);
  qzv_test::ReadBack f = Written();
  ASSERT_EQ(f.AllRecords().size(), 1200u);
  EXPECT_EQ(f.grid().boundsMin[0], 1000.0);
  EXPECT_EQ(f.grid().boundsMax[0], 1012.25);
  EXPECT_EQ(f.header.attributeFlags, 0x13u);  // colour, intensity, custom byte
  ExpectNoLeftovers();
}

TEST_F(LasImport, HostReaderBesideACreatedReader) {
  ASSERT_TRUE(synth::WriteLas(m_dir.file("scan.las"), Grid(500)));
  import_test::Script script;
  script.points = {import_test::At(1001, 2001, 10.5), import_test::At(1002, 2002, 10.25)};
  import_test::PlainReader host("h", script, &m_log);
  std::wstring las = m_dir.wfile("scan.las");
  ASSERT_EQ(Import({&host, nullptr}, nullptr, 0x1F, {L"host.src", las}), vs::Ok);
  std::vector<std::string> expected = {"h.Units", "h.Open", "h.Stats", "h.First", "h.Close"};
  EXPECT_EQ(m_log, expected);  // closed, never destroyed
  qzv_test::ReadBack f = Written();
  EXPECT_EQ(f.AllRecords().size(), 502u);
  ExpectNoLeftovers();  // the created reader's file is closed too
}

// How reader outcomes become import statuses; what the reader makes of
// damaged files is tested with the reader.
TEST_F(LasImport, DamagedAndUnusualSources) {
  synth::LasOptions longRecords, noCount, smallBounds;
  longRecords.recordLength = 65;
  noCount.headerCountOverride = 0;
  smallBounds.overrideBounds = true;
  for (int a = 0; a < 3; ++a) smallBounds.boundsMin[a] = smallBounds.boundsMax[a] = 0.5;
  const struct {
    const char* name;
    synth::LasOptions options;
    vs::VorlinStatus status;
  } cases[] = {{"long-records.las", longRecords, vs::OpenFailed},
               {"count-zero.las", noCount, vs::ReadFailed},
               {"small-bounds.las", smallBounds, vs::Ok}};
  for (const auto& c : cases) {
    ASSERT_TRUE(synth::WriteLas(m_dir.file(c.name), Grid(800), c.options)) << c.name;
    std::filesystem::remove(OutputPath());
    EXPECT_EQ(QvVorlin::import(m_dir.wfile(c.name).c_str(), Output().c_str(), nullptr, 0x1F), c.status) << c.name;
    EXPECT_EQ(OutputExists(), c.status == vs::Ok) << c.name;
  }
  EXPECT_EQ(Written().AllRecords().size(), 800u);

  // A header that claims four billion points over a 1,000 km box: the grid
  // follows the records the file holds, not the claim.
  synth::LasOptions liar;
  liar.headerCountOverride = UINT32_MAX;
  liar.overrideBounds = true;
  for (int a = 0; a < 3; ++a) liar.boundsMin[a] = -5e5, liar.boundsMax[a] = 5e5;
  std::vector<synth::LasPoint> two = Grid(2);
  ASSERT_TRUE(synth::WriteLas(m_dir.file("liar.las"), two, liar));
  ASSERT_EQ(QvVorlin::import(m_dir.wfile("liar.las").c_str(), Output().c_str(), nullptr, 0x1F), vs::Ok);
  qzv_test::ReadBack lied = Written();
  EXPECT_EQ(lied.AllRecords().size(), 2u);
  EXPECT_LE(lied.Cells(), 2000u);
  // Records of 16 bytes hold every field but colour, and are imported.
  synth::LasOptions shortRecords;
  shortRecords.recordLength = 16;
  ASSERT_TRUE(synth::WriteLas(m_dir.file("short.las"), Grid(300), shortRecords));
  ASSERT_EQ(QvVorlin::import(m_dir.wfile("short.las").c_str(), Output().c_str(), nullptr, 0x1F), vs::Ok);
  EXPECT_EQ(Written().AllRecords().size(), 300u);
  { std::ofstream(m_dir.file("empty.las")); }
  for (const char* name : {"empty.las", "absent.las"})
    EXPECT_EQ(QvVorlin::import(m_dir.wfile(name).c_str(), Output().c_str(), nullptr, 0x1F), vs::OpenFailed) << name;
  ExpectNoLeftovers();
}

}  // namespace
