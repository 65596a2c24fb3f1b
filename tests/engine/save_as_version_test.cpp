#include "engine/engine_test_support.h"
#include "format/little_endian.h"
#include "platform/fault_injection.h"

namespace {

using namespace engine_test;
namespace platform = vorlin::platform;
namespace format = vorlin::format;

using vorlin_test::ReadBytes;

class SaveAsVersionTest : public ::testing::Test {
 protected:
  // Writes f, opens it with a fresh engine (loader running) and returns it.
  QvVorlin* OpenFile(const qzv_test::TestFile& f, const std::string& name, int budget = 1000) {
    EXPECT_TRUE(qzv_test::WriteBytes(dir.file(name), qzv_test::Serialize(f)));
    QvVorlin* engine = QvVorlin::create();
    engines.push_back(engine);
    engine->open(dir.wfile(name).c_str(), budget);
    return engine;
  }
  ~SaveAsVersionTest() override {
    for (QvVorlin* e : engines) QvVorlin::destroy(e);
  }
  vorlin_test::TempDir dir;
  std::vector<QvVorlin*> engines;
};

TEST_F(SaveAsVersionTest, RefusesEverythingButVersion4ToVersion3) {
  const std::wstring out = dir.wfile("out.qzv");
  QvVorlin* fresh = QvVorlin::create();
  engines.push_back(fresh);
  EXPECT_FALSE(fresh->saveAsVersion(out.c_str(), 3));  // nothing open

  QvVorlin* v4 = OpenFile(RandomGrid(4, 2, 2, 2, 1), "v4.qzv");
  EXPECT_FALSE(v4->saveAsVersion(out.c_str(), 4));
  EXPECT_FALSE(v4->saveAsVersion(out.c_str(), 5));
  EXPECT_FALSE(v4->saveAsVersion(nullptr, 3));
  EXPECT_FALSE(OpenFile(RandomGrid(3, 2, 2, 2, 2), "v3.qzv")->saveAsVersion(out.c_str(), 3));
  EXPECT_FALSE(OpenFile(RandomGrid(5, 2, 2, 2, 3), "v5.qzv")->saveAsVersion(out.c_str(), 3));

  // Held without tables: the file is not a QZV file.
  ASSERT_TRUE(qzv_test::WriteBytes(dir.file("junk.qzv"), {'q', 'z', 'v', 4, 0, 0, 0}));
  QvVorlin* junk = QvVorlin::create();
  engines.push_back(junk);
  EXPECT_FALSE(junk->open(dir.wfile("junk.qzv").c_str(), 0));
  EXPECT_TRUE(junk->isOpen());
  EXPECT_FALSE(junk->saveAsVersion(out.c_str(), 3));
  EXPECT_FALSE(platform::PathExists(out.c_str()));
}

TEST_F(SaveAsVersionTest, CopyKeepsGridTablesAndRecordPrefixes) {
  qzv_test::TestFile source = RandomGrid(4, 3, 2, 4, 7);  // some cells empty
  source.flags = 0x3F;  // with the attribute block
  QvVorlin* engine = OpenFile(source, "in.qzv");
  const std::wstring out = dir.wfile("out.qzv");
  ASSERT_TRUE(engine->saveAsVersion(out.c_str(), 3));

  const std::vector<uint8_t> bytes = ReadBytes(dir.file("out.qzv"));
  const uint64_t n = uint64_t(source.CellCount());
  ASSERT_EQ(bytes.size(), 99 + 16 * n + 16 * source.TotalPoints());
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "QZV");
  EXPECT_TRUE(format::GetI32(&bytes[3]) == 3 && format::GetF64(&bytes[7]) == source.boundsMin[0] &&
              format::GetF64(&bytes[55]) == source.Centre(0) && format::GetI32(&bytes[79]) == 3 &&
              format::GetI32(&bytes[87]) == 4 && format::GetF64(&bytes[91]) == source.cellSize);
  uint64_t expectedOffset = 99 + 16 * n;
  for (uint64_t k = 0; k < n; ++k) {
    const auto& cell = source.records[k];
    ASSERT_EQ(format::GetU32(&bytes[99 + 4 * k]), cell.size());
    const uint64_t offset = format::GetU64(&bytes[99 + 4 * n + 8 * k]);
    ASSERT_EQ(offset, expectedOffset);  // empty cells share the next cell's offset
    EXPECT_EQ(format::GetF32(&bytes[99 + 12 * n + 4 * k]), source.lods[k]);
    for (size_t j = 0; j < cell.size(); ++j) {
      const uint8_t* r = &bytes[offset + 16 * j];
      ASSERT_EQ(format::GetF32(r), cell[j].x);
      ASSERT_EQ(format::GetF32(r + 8), cell[j].z);
      ASSERT_EQ(format::GetU32(r + 12), cell[j].color | 0xFF000000u);
    }
    expectedOffset += 16 * cell.size();
  }

  // The copy opens as version 3 with the same geometry and point count.
  QvVorlin* copy = QvVorlin::create();
  engines.push_back(copy);
  ASSERT_TRUE(copy->open(out.c_str(), 0));
  unsigned version = 0, revision = 9;
  ASSERT_TRUE(copy->getVersion(version, revision));
  EXPECT_TRUE(version == 3 && revision == 0 && copy->totalPointCount() == source.TotalPoints());
  double a[6], b[6];
  engine->getExtents(a[0], a[1], a[2], a[3], a[4], a[5]);
  copy->getExtents(b[0], b[1], b[2], b[3], b[4], b[5]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(a[i], b[i]);
  EXPECT_TRUE(engine->isOpen());  // the source stays open and usable

  // One cell: 115 + 16 per record.
  qzv_test::TestFile one;
  qzv_test::Populate(one, [](int, int, int) { return 37u; }, [](int, int, int) { return 0.5f; });
  ASSERT_TRUE(OpenFile(one, "one.qzv")->saveAsVersion(dir.wfile("one3.qzv").c_str(), 3));
  EXPECT_EQ(ReadBytes(dir.file("one3.qzv")).size(), 115u + 16u * 37u);
}

TEST_F(SaveAsVersionTest, SavingOverTheOpenFileFailsAndKeepsIt) {
  QvVorlin* engine = OpenFile(RandomGrid(4, 2, 3, 2, 11), "self.qzv");
  const std::vector<uint8_t> before = ReadBytes(dir.file("self.qzv"));
  EXPECT_FALSE(engine->saveAsVersion(dir.wfile("self.qzv").c_str(), 3));
  EXPECT_EQ(ReadBytes(dir.file("self.qzv")), before);
  IPointCloudQuery* query = engine->createQuery(nullptr, false);
  std::vector<CellPoint> buffer(100);
  EXPECT_GT(engine->getPoints(query, buffer.data(), 100), 0u);
  query->release();
}

// Every write and read of the save fails once, outright or short: the save
// answers false, leaves no file, and the engine can save again afterwards.
TEST_F(SaveAsVersionTest, FailedSavesLeaveNoFile) {
  // No loader: its reads would take the injected failure instead.
  QvVorlin* engine = OpenFile(RandomGrid(4, 3, 3, 3, 5, 300), "in.qzv", 0);
  const std::wstring out = dir.wfile("out.qzv");
  int failures = 0;
  for (bool shortTransfer : {false, true}) {
    for (uint64_t n = 1;; ++n) {
      platform::DeleteFileAt(out.c_str());
      platform::ArmFault(platform::kFaultWrite | platform::kFaultRead | platform::kFaultOpen, n,
                         shortTransfer);
      const bool saved = engine->saveAsVersion(out.c_str(), 3);
      const bool triggered = platform::FaultTriggered();
      platform::DisarmFault();
      if (!triggered) {
        EXPECT_TRUE(saved);
        break;
      }
      ++failures;
      EXPECT_FALSE(saved) << "call " << n;
      EXPECT_FALSE(platform::PathExists(out.c_str())) << "call " << n;
    }
  }
  EXPECT_GT(failures, 4);
  EXPECT_TRUE(engine->saveAsVersion(out.c_str(), 3));
}

}  // namespace
