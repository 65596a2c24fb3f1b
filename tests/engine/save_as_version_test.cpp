#include <cstdio>

#include "engine/engine_test_support.h"
#include "platform/fault_injection.h"

namespace {

using namespace engine_test;
namespace platform = vorlin::platform;

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

// The copy is the version-3 form of the file: same grid and tables, each
// record's first 16 bytes with the intensity byte set.
TEST_F(SaveAsVersionTest, CopyKeepsGridTablesAndRecordPrefixes) {
  for (uint32_t seed : {7u, 8u}) {
    qzv_test::TestFile source = RandomGrid(4, 3, 2, 4, seed);  // some cells empty
    source.flags = 0x3F;  // with the attribute block
    const std::string name = "out" + std::to_string(seed) + ".qzv";
    QvVorlin* engine = OpenFile(source, "in" + std::to_string(seed) + ".qzv");
    const std::wstring out = dir.wfile(name);
    ASSERT_TRUE(engine->saveAsVersion(out.c_str(), 3));
    qzv_test::TestFile expected = source;
    expected.version = 3;
    for (auto& cell : expected.records)
      for (CellPoint& p : cell) p.color |= 0xFF000000u;
    EXPECT_EQ(ReadBytes(dir.file(name)), qzv_test::Serialize(expected));
    // The copy opens; the source stays open and usable.
    QvVorlin* copy = engines.emplace_back(QvVorlin::create());
    ASSERT_TRUE(copy->open(out.c_str(), 0));
    EXPECT_EQ(copy->totalPointCount(), source.TotalPoints());
    EXPECT_TRUE(engine->isOpen());
  }
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
      (void)platform::DeleteFileAt(out.c_str());
      platform::ArmFault(platform::kFaultWrite | platform::kFaultRead | platform::kFaultOpen, n,
                         shortTransfer);
      const bool saved = engine->saveAsVersion(out.c_str(), 3);
      const bool triggered = platform::FaultTriggered();
      platform::DisarmFault();
      if (!triggered) {
        EXPECT_TRUE(saved);
        printf("save: %llu file calls swept\n", (unsigned long long)(n - 1));
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
