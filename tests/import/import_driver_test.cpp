#include <math.h>

#include <algorithm>

#include <cstdio>
#include <fstream>
#include <map>
#include <tuple>

#include "import/grid_cell_writer.h"
#include "import/normal_code.h"
#include "platform/fault_injection.h"
#include "import_test_support.h"

namespace {

using import_test::At;
using import_test::ExReader;
using import_test::PlainReader;
using import_test::Point;
using import_test::RecordingProgress;
using import_test::Script;
using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::QvVorlin;
namespace vs = Zelvane::Vorlin;

using Driver = import_test::ImportFixture;
using Log = std::vector<std::string>;

// n points on a diagonal through [0, 10]^3.
Script Diagonal(size_t n) {
  Script s;
  for (size_t i = 0; i < n; ++i) {
    double t = n > 1 ? 10.0 * double(i) / double(n - 1) : 0.0;
    Point p = At(t, t * 0.5, 10.0 - t);
    p.r = uint8_t(i), p.g = uint8_t(i * 3), p.b = uint8_t(i * 7);
    p.intensity = uint8_t(200 - i % 100), p.custom = uint8_t(i % 32);
    p.nx = float(i % 3), p.ny = 1.0f, p.nz = -0.5f;
    s.points.push_back(p);
  }
  return s;
}

TEST_F(Driver, ArgumentsAreCheckedBeforeAnyReaderIsTouched) {
  PlainReader host("a", Diagonal(3), &m_log);
  IReader* readers[1] = {&host};
  const wchar_t* names[1] = {L"a.las"};
  std::wstring out = Output();
  EXPECT_EQ(QvVorlin::import(nullptr, out.c_str(), readers, 1, nullptr, 0), vs::InvalidArgument);
  EXPECT_EQ(QvVorlin::import(names, nullptr, readers, 1, nullptr, 0), vs::InvalidArgument);
  EXPECT_EQ(QvVorlin::import(names, out.c_str(), nullptr, 1, nullptr, 0), vs::InvalidArgument);
  EXPECT_EQ(QvVorlin::import(names, out.c_str(), readers, 0, nullptr, 0), vs::InvalidArgument);
  const wchar_t* missingName[1] = {nullptr};
  EXPECT_EQ(QvVorlin::import(missingName, out.c_str(), readers, 1, nullptr, 0), vs::InvalidArgument);

  // Without a reader the name decides first; with a null reader the
  // arguments are checked first.
  EXPECT_EQ(QvVorlin::import(static_cast<const wchar_t*>(nullptr), out.c_str(), nullptr, 0), vs::InvalidArgument);
  EXPECT_EQ(QvVorlin::import(L"a.txt", nullptr, nullptr, 0), vs::UnsupportedFormat);
  EXPECT_EQ(QvVorlin::import(L"a.txt", nullptr, static_cast<IReader*>(nullptr), nullptr, 0), vs::InvalidArgument);
  EXPECT_EQ(QvVorlin::import(L"las", out.c_str(), nullptr, 0), vs::UnsupportedFormat);
  EXPECT_EQ(QvVorlin::import(L"scan.laz", out.c_str(), nullptr, 0), vs::UnsupportedFormat);
  EXPECT_EQ(QvVorlin::import(L"scan.laz", out.c_str(), static_cast<IReader*>(nullptr),
                             nullptr, 0),
            vs::UnsupportedFormat);

  // A second source without a usable name: nothing of the first is opened.
  IReader* mixed[2] = {&host, nullptr};
  const wchar_t* mixedNames[2] = {L"a.las", L"b.txt"};
  EXPECT_EQ(QvVorlin::import(mixedNames, out.c_str(), mixed, 2, nullptr, 0), vs::UnsupportedFormat);
  EXPECT_TRUE(m_log.empty());
  EXPECT_FALSE(OutputExists());
  ExpectNoLeftovers();
}

TEST_F(Driver, OpenFailureClosesOnlyTheReadersOpenedBefore) {
  for (bool throws : {false, true}) {
    m_log.clear();
    Script failing = Diagonal(3);
    failing.openResult = false;
    failing.throwOnOpen = throws;
    PlainReader a("a", Diagonal(3), &m_log);
    PlainReader b("b", failing, &m_log);
    PlainReader c("c", Diagonal(3), &m_log);
    EXPECT_EQ(Import({&a, &b, &c}), vs::OpenFailed);
    Log expected = {"a.Units", "a.Open", "a.Stats", "b.Open", "a.Close"};
    EXPECT_EQ(m_log, expected);
    EXPECT_FALSE(OutputExists());
  }
  ExpectNoLeftovers();
}

TEST_F(Driver, NoPointsOrNoOutputFileEndBeforeBinning) {
  { std::ofstream(OutputPath()) << "keep me"; }
  Script empty;
  empty.announced = 0;
  PlainReader a("a", empty, &m_log);
  PlainReader b("b", empty, &m_log);
  EXPECT_EQ(Import({&a, &b}), vs::ReadFailed);
  std::string text;
  std::getline(std::ifstream(OutputPath()), text);
  EXPECT_EQ(text, "keep me");
  Log expected = {"a.Units", "a.Open", "a.Stats", "b.Open", "b.Stats", "a.Close", "b.Close"};
  EXPECT_EQ(m_log, expected);

  m_log.clear();
  PlainReader c("c", Diagonal(5), &m_log);
  IReader* readers[1] = {&c};
  const wchar_t* names[1] = {L"c.bin"};
  std::wstring out = m_dir.wfile("missing/out.qzv");
  EXPECT_EQ(QvVorlin::import(names, out.c_str(), readers, 1, nullptr, 0), vs::CreateFailed);
  expected = {"c.Units", "c.Open", "c.Stats", "c.Close"};
  EXPECT_EQ(m_log, expected);
  ExpectNoLeftovers();
}

TEST_F(Driver, ReadersAreUsedInOrderAndHostReadersSurvive) {
  Script second = Diagonal(40);
  second.units = 99.0;
  PlainReader a("a", Diagonal(30), &m_log);
  ExReader b("b", second, &m_log);
  ASSERT_EQ(Import({&a, &b}, nullptr, 0x1F, {L"one.src", L"two.src"}), vs::Ok);
  Log expected = {"a.Units", "a.Open", "a.Stats", "b.Open", "b.Stats",
                  "a.First", "b.First", "a.Close", "b.Close"};
  EXPECT_EQ(m_log, expected);
  EXPECT_EQ(a.openedWith, L"one.src");
  EXPECT_EQ(b.openedWith, L"two.src");

  qzv_test::ReadBack f = Written();
  EXPECT_EQ(f.header.unitsFactor, 0.0);  // the first reader's factor
  EXPECT_EQ(f.AllRecords().size(), 70u);
  EXPECT_EQ(f.End(f.Cells() - 1), f.bytes.size());
  ExpectNoLeftovers();
}

// Tables after the 111-byte header, then the trailing words (with the
// attribute block when the fifth attribute is asked for) zero past the
// flags, then the records packed cell after cell, padding byte zero.
TEST_F(Driver, FileLayout) {
  for (unsigned mask : {0x0Fu, 0x1Fu}) {
    ExReader r("r", Diagonal(37), &m_log);
    ASSERT_EQ(Import({&r}, nullptr, mask), vs::Ok);
    qzv_test::ReadBack f = Written();
    const size_t first = 111 + 16 * f.Cells() + 24 + (mask & 0x10 ? 128 : 0);
    EXPECT_TRUE(f.header.version == 4 && f.header.revision == 0 && f.header.hasTrailer);
    EXPECT_EQ(f.tables.offsets[0], first);
    EXPECT_EQ(f.bytes.size(), first + 20 * 37);
    for (size_t i = first - (mask & 0x10 ? 140 : 12); i < first; ++i) EXPECT_EQ(f.bytes[i], 0) << i;
    for (size_t i = first + 19; i < f.bytes.size(); i += 20) EXPECT_EQ(f.bytes[i], 0) << i;
    for (size_t k = 0; k < f.Cells(); ++k) {
      EXPECT_TRUE(k == 0 || f.tables.offsets[k] == f.End(k - 1)) << k;
      EXPECT_EQ(f.tables.lods[k] > 0.0f, f.tables.counts[k] > 0) << k;
    }
  }
}

TEST_F(Driver, BoundsAreMergedPerAxis) {
  struct Case {
    double min[3], max[3];
    Point point;
    double wantMin[3], wantMax[3];
  } cases[] = {
      {{5, 5, 5}, {1, 1, 1}, At(2, 3, 4), {1, 1, 1}, {5, 5, 5}},
      {{0, 0, 2}, {4, 4, 2}, At(1, 1, 2), {0, 0, 2}, {4, 4, 2}},
      {{0, 0, 0}, {0, 0, 0}, At(0, 0, 0), {0, 0, 0}, {1, 1, 1}},
      {{0, 0, 0}, {0, 0, 0}, At(3, 4, 5), {3, 4, 5}, {4, 5, 6}},  // outside: re-measured, unit box
  };
  for (const Case& c : cases) {
    Script s;
    s.points = {c.point};
    s.boundsFromPoints = false;
    for (int a = 0; a < 3; ++a) s.minXYZ[a] = c.min[a], s.maxXYZ[a] = c.max[a];
    PlainReader r("r", s, &m_log);
    ASSERT_EQ(Import({&r}), vs::Ok);
    qzv_test::ReadBack f = Written();
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(f.grid().boundsMin[a], c.wantMin[a]) << a;
      EXPECT_EQ(f.grid().boundsMax[a], c.wantMax[a]) << a;
      EXPECT_EQ(f.grid().centre[a], (c.wantMax[a] - c.wantMin[a]) * 0.5 + c.wantMin[a]);
    }
  }
}

// The record an import must store for a source point.
CellPoint Expected(const Point& p, const double centre[3], unsigned mask, bool extended) {
  CellPoint r;
  r.x = float(p.x - centre[0]);
  r.y = float(p.y - centre[1]);
  r.z = float(p.z - centre[2]);
  uint32_t colour = (mask & 1) ? (uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | p.b : 0;
  uint32_t intensity = (mask & 2) && extended ? p.intensity : 0;
  r.color = colour | (intensity << 24);
  r.normalIndex = (mask & 4) && extended ? vorlin::NormalCode(p.nx, p.ny, p.nz) : 4095;
  r.customAttribute = (mask & 8) && extended ? p.custom : 0;
  return r;
}

std::multimap<std::tuple<float, float, float>, CellPoint> ByPosition(
    const std::vector<CellPoint>& records) {
  std::multimap<std::tuple<float, float, float>, CellPoint> map;
  for (const CellPoint& r : records) map.emplace(std::make_tuple(r.x, r.y, r.z), r);
  return map;
}

TEST_F(Driver, RecordsFollowTheAttributeMask) {
  enum Kind { kEx, kPlain, kDefaultEx };
  struct Case {
    Kind kind;
    unsigned requested, available, flags;
  } cases[] = {
      {kEx, 0x1F, 0x1F, 0x37}, {kEx, 0x01, 0x1F, 0x01},   {kEx, 0x00, 0x1F, 0x00},
      {kEx, 0x1F, 0x0A, 0x12}, {kPlain, 0x1F, 0x1F, 0x37}, {kDefaultEx, 0x0F, 0x1F, 0x17},
  };
  for (const Case& c : cases) {
    Script s = Diagonal(50);
    s.attributes = c.available;
    std::unique_ptr<IReader> reader;
    if (c.kind == kEx) reader.reset(new ExReader("r", s, &m_log));
    if (c.kind == kPlain) reader.reset(new PlainReader("r", s, &m_log));
    if (c.kind == kDefaultEx) reader.reset(new import_test::DefaultExReader("r", s, &m_log));
    ASSERT_EQ(Import({reader.get()}, nullptr, c.requested), vs::Ok);
    qzv_test::ReadBack f = Written();
    EXPECT_EQ(f.header.attributeFlags, c.flags);
    auto stored = ByPosition(f.AllRecords());
    ASSERT_EQ(stored.size(), s.points.size());
    for (const Point& p : s.points) {
      CellPoint want = Expected(p, f.grid().centre, c.requested & c.available, c.kind == kEx);
      auto found = stored.find(std::make_tuple(want.x, want.y, want.z));
      ASSERT_NE(found, stored.end());
      EXPECT_EQ(found->second.color, want.color);
      EXPECT_EQ(found->second.normalIndex, want.normalIndex);
      EXPECT_EQ(found->second.customAttribute, want.customAttribute);
    }
  }

  // The reader opened last decides which attributes are stored.
  Script rich = Diagonal(10), poor = Diagonal(10);
  poor.attributes = 0x01;
  ExReader a("a", rich, &m_log), b("b", poor, &m_log);
  ASSERT_EQ(Import({&a, &b}), vs::Ok);
  qzv_test::ReadBack f = Written();
  EXPECT_EQ(f.header.attributeFlags, 0x01u);
  for (const CellPoint& r : f.AllRecords()) EXPECT_EQ(r.normalIndex, 4095);
  ExpectNoLeftovers();
}

TEST_F(Driver, EachCellHoldsExactlyItsPoints) {
  Script s = Diagonal(3000);
  ExReader r("r", s, &m_log);
  ASSERT_EQ(Import({&r}), vs::Ok);
  qzv_test::ReadBack f = Written();
  EXPECT_EQ(f.AllRecords().size(), 3000u);
  // Every stored position lies in the box of the cell it is filed under,
  // k = (ix * ny + iy) * nz + iz.
  for (size_t k = 0; k < f.Cells(); ++k) {
    const int n[3] = {f.grid().nx, f.grid().ny, f.grid().nz};
    const int index[3] = {int(k / n[2] / n[1]), int(k / n[2] % n[1]), int(k % n[2])};
    for (uint32_t i = 0; i < f.tables.counts[k]; ++i) {
      const CellPoint p = f.Record(k, i);
      const float pos[3] = {p.x, p.y, p.z};
      for (int a = 0; a < 3; ++a) {
        const double source = double(pos[a]) + f.grid().centre[a];
        const double lo = f.grid().boundsMin[a] + index[a] * f.grid().cellSize;
        const double hi = index[a] + 1 < n[a] ? lo + f.grid().cellSize : f.grid().boundsMax[a];
        ASSERT_TRUE(source >= lo - 1e-5 && source <= hi + 1e-5) << k << " axis " << a;
      }
    }
  }
}

TEST_F(Driver, BoundsSmallerThanTheDataAreRemeasured) {
  Script s = Diagonal(20);
  s.boundsFromPoints = false;
  s.minXYZ[0] = s.minXYZ[1] = s.minXYZ[2] = 1;
  s.maxXYZ[0] = s.maxXYZ[1] = s.maxXYZ[2] = 2;
  PlainReader r("r", s, &m_log);
  ASSERT_EQ(Import({&r}), vs::Ok);
  Log expected = {"r.Units", "r.Open", "r.Stats", "r.First", "r.First", "r.First", "r.Close"};
  EXPECT_EQ(m_log, expected);
  qzv_test::ReadBack f = Written();
  EXPECT_EQ(f.grid().boundsMin[0], 0.0);
  EXPECT_EQ(f.grid().boundsMax[0], 10.0);
  EXPECT_EQ(f.grid().boundsMax[1], 5.0);
  EXPECT_EQ(f.AllRecords().size(), 20u);
  ExpectNoLeftovers();
}

TEST_F(Driver, PointsThatFitNoBoxFailTheImport) {
  // A point at the origin does not widen the re-measured box; a NaN
  // coordinate has no cell at all.
  for (Point odd : {At(0, 0, 0), At(NAN, 5, 5), At(5, 5, INFINITY)}) {
    m_log.clear();
    Script s = Diagonal(10);
    for (Point& p : s.points) p.x += 100;
    s.boundsFromPoints = false;
    s.minXYZ[0] = 100;
    s.maxXYZ[0] = 110;
    s.maxXYZ[1] = 5;
    s.maxXYZ[2] = 10;
    s.points.insert(s.points.begin() + 4, odd);
    ExReader r("r", s, &m_log);
    EXPECT_EQ(Import({&r}), vs::OutOfExtents);
    EXPECT_FALSE(OutputExists());
    EXPECT_EQ(m_log.back(), "r.Close");
  }
  ExpectNoLeftovers();
}

TEST_F(Driver, ReaderExceptionsDuringReadsFailTheImport) {
  for (long long at : {0ll, 7ll, 12ll}) {  // binning, and the re-measurement
    m_log.clear();
    Script s = Diagonal(10);
    s.throwAtRead = at;
    if (at == 12) {
      s.boundsFromPoints = false;  // sends the import through a re-measurement
      s.maxXYZ[0] = 1;
    }
    ExReader r("r", s, &m_log);
    EXPECT_EQ(Import({&r}), vs::ReadFailed) << at;
    EXPECT_FALSE(OutputExists());
    EXPECT_EQ(m_log.back(), "r.Close");
  }
  ExpectNoLeftovers();
}

TEST_F(Driver, CancellationAtEveryPollingPlace) {
  struct Case {
    int cancelAt;
    Log calls;
  } cases[] = {
      {1, {"cancelled?"}},
      {2, {"cancelled?", "range 20 70", "cancelled?"}},
      {3,
       {"cancelled?", "range 20 70", "cancelled?", "progress 66.6667", "progress 100",
        "range 70 100", "cancelled?"}},
  };
  for (const Case& c : cases) {
    PlainReader r("r", Diagonal(1500), &m_log);
    RecordingProgress progress;
    progress.cancelAt = c.cancelAt;
    EXPECT_EQ(Import({&r}, &progress), vs::Cancelled);
    EXPECT_EQ(progress.calls, c.calls);
    EXPECT_FALSE(OutputExists());
  }
  // Uncancelled, the last report of the writer is below 100.
  PlainReader r("r", Diagonal(1500), &m_log);
  RecordingProgress progress;
  ASSERT_EQ(Import({&r}, &progress), vs::Ok);
  EXPECT_EQ(progress.calls[6], "cancelled?");
  EXPECT_NE(progress.calls.back(), "progress 100");
  ExpectNoLeftovers();
}

// Two clusters of points: 600 fill a cell's buffer while binning.
Script Clusters(size_t n) {
  Script s = Diagonal(n);
  for (size_t i = 0; i < n; ++i)
    s.points[i].x = s.points[i].y = s.points[i].z = (i % 2 ? 10.0 : 0.0) + 0.001 * double(i % 7);
  return s;
}

TEST_F(Driver, TemporaryFolderThatCannotBeWritten) {
  vorlin_test::ScopedTmpDir missing(m_dir.file("no-such-folder"));
  // Fails at the flush, or while binning when a cell's buffer first fills.
  const size_t spilling = 2 * size_t(CellWriter::kMaxBufferRecords) + 600;
  for (size_t n : {size_t(10), spilling}) {
    PlainReader r("r", Clusters(n), &m_log);
    EXPECT_EQ(Import({&r}), vs::TempFileFailed) << n;
    if (n == 10) {
      EXPECT_EQ(r.reads, 11u);
    } else {
      EXPECT_LE(r.reads, 2 * size_t(CellWriter::kMaxBufferRecords)) << "stops at the failure";
    }
    EXPECT_FALSE(OutputExists());
  }
  ExpectNoLeftovers();
}

// The records of a file as a sorted list of their stored bytes: equal lists
// mean the same multiset of records, whatever their order.
std::vector<std::vector<uint8_t>> RecordMultiset(const qzv_test::ReadBack& f) {
  std::vector<std::vector<uint8_t>> records;
  for (size_t k = 0; k < f.Cells(); ++k) {
    const uint8_t* at = f.bytes.data() + f.tables.offsets[k];
    for (uint32_t i = 0; i < f.tables.counts[k]; ++i, at += 20) records.emplace_back(at, at + 20);
  }
  std::sort(records.begin(), records.end());
  return records;
}

// Every file call of an import fails in turn, outright or short: through the
// ordinary path, and with a copy buffer of a few records, no resident
// blocks and shuffle memory for a few dozen records, so that every cell is
// ordered through its spill file and the block file, and its sub-cells are
// shuffled in windows through a temporary file. A run that still answers Ok must have written exactly the
// source's records; any other run leaves a status and no file.
TEST_F(Driver, EveryFileFailureEndsCleanly) {
  namespace platform = vorlin::platform;
  const Script s = Clusters(3000);  // spilled cells, flushed tails, paged sub-cell lists
  const unsigned sites = platform::kFaultOpen | platform::kFaultRead | platform::kFaultWrite |
                         platform::kFaultSeek | platform::kFaultTempFile;
  struct Path {
    const char* name;
    uint32_t copyBuffer;
    size_t residentBytes;
    size_t shuffleBytes;
  } paths[] = {{"ordinary", PointCloudImporter::kDefaultCopyBufferRecords, size_t(64) << 20,
                size_t(48) << 20},
               {"large-cell", 4, 0, 4000}};
  std::map<int, int> seen;
  uint64_t swept = 0;
  for (const Path& path : paths) {
    auto run = [&](uint64_t n, bool shortened) {
      PlainReader r("r", s, &m_log);
      platform::ArmFault(sites, n, shortened);
      vs::VorlinStatus status = ImportLargeCellPath(&r, path.copyBuffer, path.residentBytes, path.shuffleBytes);
      platform::DisarmFault();
      return status;
    };
    ASSERT_EQ(run(UINT64_MAX, false), vs::Ok);
    const uint64_t calls = platform::FaultCallsSeen();
    const auto expected = RecordMultiset(Written());
    ASSERT_EQ(expected.size(), s.points.size());
    printf("import (%s): %llu file calls swept\n", path.name, (unsigned long long)calls);
    for (bool shortened : {false, true}) {
      for (uint64_t n = 1; n <= calls; ++n, ++swept) {
        m_log.clear();
        std::filesystem::remove(OutputPath());
        vs::VorlinStatus status = run(n, shortened);
        ++seen[status];
        EXPECT_TRUE(status == vs::Ok || status == vs::CreateFailed || status == vs::ReadFailed ||
                    status == vs::WriteFailed || status == vs::TempFileFailed)
            << status << " at call " << n << " " << path.name;
        ASSERT_EQ(OutputExists(), status == vs::Ok) << n << " " << path.name;
        if (status == vs::Ok) {
          qzv_test::ReadBack f = Written();
          ASSERT_FALSE(f.tables.counts.empty()) << n;
          EXPECT_EQ(f.End(f.Cells() - 1), f.bytes.size()) << n;
          EXPECT_TRUE(RecordMultiset(f) == expected) << "records lost or duplicated at call " << n
                                                     << " " << path.name;
        }
        EXPECT_EQ(m_log.back(), "r.Close") << n;
        ExpectNoLeftovers();
      }
    }
  }
  printf("import: %llu fault sites swept in all\n", (unsigned long long)swept);
  for (int status : {vs::CreateFailed, vs::ReadFailed, vs::WriteFailed, vs::TempFileFailed})
    EXPECT_GT(seen[status], 0) << status;
}

}  // namespace
