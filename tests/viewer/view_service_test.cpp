#include "view_service.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>

#include "synth/synth.h"
#include "view_command.h"
#include "vorlin/vorlin.h"

namespace vorlin {
namespace viewer {
namespace {

using Zelvane::Vorlin::QvVorlin;

struct Answer {
  uint32_t seq = 0, count = 0, visibleCells = 0;
  bool complete = false;
  uint64_t visiblePoints = 0, target = 0, delivered = 0;
  std::vector<uint8_t> tiles;
};

uint64_t Read(const std::string& b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

Answer Decode(const Reply& reply) {
  Answer a;
  EXPECT_EQ(reply.status, 200) << reply.body;
  if (reply.status != 200) return a;
  const std::string& b = reply.body;
  EXPECT_EQ(b.substr(0, 4), "VZP1");
  a.seq = static_cast<uint32_t>(Read(b, 4, 4));
  a.count = static_cast<uint32_t>(Read(b, 8, 4));
  a.complete = Read(b, 12, 4) & 1;
  a.visiblePoints = Read(b, 16, 8);
  a.target = Read(b, 24, 8);
  a.delivered = Read(b, 32, 8);
  a.visibleCells = static_cast<uint32_t>(Read(b, 40, 4));
  EXPECT_EQ(b.size(), (kAnswerHeaderBytes + a.count * 18 + 3) / 4 * 4);
  const size_t tilesAt = kAnswerHeaderBytes + a.count * 17;
  a.tiles.assign(b.begin() + tilesAt, b.begin() + tilesAt + a.count);
  return a;
}

std::string Camera(const std::string& session, uint32_t seq, const char* eye, uint64_t budget,
                   uint64_t first, const char* target = "100,100,100") {
  return "session=" + session + "&seq=" + std::to_string(seq) + "&eye=" + eye +
         "&target=" + target + "&up=0,0,1&fov=60&aspect=1.5&near=1&far=2000&budget=" +
         std::to_string(budget) + "&first=" + std::to_string(first);
}

std::string More(const std::string& session, uint32_t seq, uint64_t count) {
  return "session=" + session + "&seq=" + std::to_string(seq) + "&count=" + std::to_string(count);
}

// Two overlapping tiles of 30000 and 10000 points, imported once.
class ViewServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/vorlin-viewer-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    s_folder = folder;
    const uint64_t counts[2] = {30000, 10000};
    for (int i = 0; i < 2; ++i) {
      const std::string las = s_folder + "/t" + std::to_string(i) + ".las";
      synth::SceneOptions scene;
      scene.points = counts[i];
      scene.seed = static_cast<uint32_t>(i + 1);
      ASSERT_TRUE(synth::WriteSceneLas(las, scene));
      const std::string qzv = s_folder + "/t" + std::to_string(i) + ".qzv";
      const std::wstring wlas(las.begin(), las.end()), wqzv(qzv.begin(), qzv.end());
      ASSERT_EQ(QvVorlin::import(wlas.c_str(), wqzv.c_str(), nullptr, 0xFFu),
                Zelvane::Vorlin::Ok);
      s_files.push_back(qzv);
    }
  }
  static void TearDownTestSuite() {
    for (const std::string& f : s_files) unlink(f.c_str());
    for (int i = 0; i < 2; ++i) unlink((s_folder + "/t" + std::to_string(i) + ".las").c_str());
    rmdir(s_folder.c_str());
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(service.Open(s_files, 1 << 20, error)) << error;
  }

  static std::string s_folder;
  static std::vector<std::string> s_files;
  ViewService service;
};
std::string ViewServiceTest::s_folder;
std::vector<std::string> ViewServiceTest::s_files;

TEST_F(ViewServiceTest, FirstSampleSplitsTheBudgetAndRefinementsReachIt) {
  const Answer first = Decode(service.View(Camera("a", 1, "100,-150,150", 20000, 8000)));
  EXPECT_EQ(first.seq, 1u);
  EXPECT_EQ(first.visiblePoints, 40000u);
  EXPECT_GT(first.visibleCells, 0u);
  EXPECT_EQ(first.target, 20000u);
  EXPECT_FALSE(first.complete);
  EXPECT_GT(first.count, 7900u);
  EXPECT_LE(first.count, 8000u);
  size_t fromSmall = 0;
  for (uint8_t t : first.tiles) fromSmall += t == 1;
  EXPECT_NEAR(static_cast<double>(fromSmall) / first.count, 0.25, 0.01);

  uint64_t total = first.count;
  Answer more;
  for (int round = 0; round < 20 && !more.complete; ++round) {
    more = Decode(service.Refine(More("a", 1, 5000)));
    EXPECT_LE(more.count, 5000u);
    total += more.count;
  }
  EXPECT_TRUE(more.complete);
  // Short of the budget by at most the cursor's rounding, one record a cell.
  EXPECT_LE(total, 20000u);
  EXPECT_GE(total + first.visibleCells, 20000u);
  EXPECT_EQ(more.delivered, total);
}

// The same two tiles as one dataset catalog: one source to the page, the
// budget still reached through the dataset's cursor.
TEST_F(ViewServiceTest, ADatasetCatalogIsServedAsOneSource) {
  std::string tiles;
  for (size_t i = 0; i < s_files.size(); ++i) {
    QvVorlin* e = QvVorlin::create();
    const std::wstring w(s_files[i].begin(), s_files[i].end());
    ASSERT_TRUE(e->open(w.c_str(), 0));
    double b[6];
    e->getExtents(b[0], b[1], b[2], b[3], b[4], b[5]);
    char entry[512];
    snprintf(entry, sizeof entry,
             "%s{\"name\": \"t%zu\", \"file\": \"t%zu.qzv\", \"points\": %llu, \"bounds\": "
             "[%.17g, %.17g, %.17g, %.17g, %.17g, %.17g], \"attributes\": [\"RGB\"]}",
             i ? ", " : "", i, i, static_cast<unsigned long long>(e->totalPointCount()), b[0],
             b[1], b[2], b[3], b[4], b[5]);
    tiles += entry;
    QvVorlin::destroy(e);
  }
  const std::string catalog = s_folder + "/catalog.json";
  FILE* f = fopen(catalog.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fprintf(f, "{\"format\": \"vorlin-dataset\", \"version\": 1, \"tiles\": [%s], "
             "\"totals\": {\"tiles\": 2, \"points\": 40000}}", tiles.c_str());
  ASSERT_EQ(fclose(f), 0);
  ViewService dataset;
  std::string error;
  ASSERT_TRUE(dataset.Open({catalog}, 1 << 20, error)) << error;
  unlink(catalog.c_str());
  EXPECT_EQ(dataset.tileCount(), 1u);
  const Answer first = Decode(dataset.View(Camera("d", 1, "100,-150,150", 20000, 8000)));
  EXPECT_EQ(first.visiblePoints, 40000u);
  EXPECT_GT(first.count, 7900u);
  uint64_t total = first.count;
  Answer more;
  for (int round = 0; round < 20 && !more.complete; ++round) {
    more = Decode(dataset.Refine(More("d", 1, 5000)));
    total += more.count;
  }
  EXPECT_TRUE(more.complete);
  EXPECT_LE(total, 20000u);
  EXPECT_GE(total, 19000u);
}

TEST_F(ViewServiceTest, ANewerCameraMakesTheOlderOneStale) {
  Decode(service.View(Camera("b", 5, "100,-150,150", 20000, 5000)));
  Decode(service.View(Camera("b", 6, "-100,100,150", 20000, 5000)));
  EXPECT_EQ(service.Refine(More("b", 5, 1000)).status, 409);
  EXPECT_EQ(service.View(Camera("b", 4, "100,-150,150", 20000, 5000)).status, 409);
  EXPECT_EQ(Decode(service.Refine(More("b", 6, 1000))).seq, 6u);
  // Sessions do not share sequence numbers.
  EXPECT_EQ(Decode(service.View(Camera("c", 1, "100,-150,150", 20000, 5000))).seq, 1u);
  EXPECT_EQ(service.Refine(More("nobody", 1, 10)).status, 400);
  EXPECT_EQ(service.View("session=b&seq=7").status, 400);
  // A camera looking away from the scene sees nothing and is complete at once.
  const Answer away = Decode(service.View(Camera("b", 8, "100,-500,100", 20000, 5000, "100,-900,100")));
  EXPECT_EQ(away.visiblePoints, 0u);
  EXPECT_EQ(away.count, 0u);
  EXPECT_TRUE(away.complete);
}

TEST_F(ViewServiceTest, RequestsFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t]() {
      // Two threads share a session, racing each other's cameras.
      const std::string session = "s" + std::to_string(t % 2);
      for (uint32_t i = 1; i <= 15; ++i) {
        const uint32_t seq = i * 4 + static_cast<uint32_t>(t);
        const Reply view = service.View(Camera(session, seq, i % 2 ? "100,-150,150" : "300,300,200",
                                               12000, 3000));
        EXPECT_TRUE(view.status == 200 || view.status == 409) << view.status << view.body;
        const Reply more = service.Refine(More(session, seq, 4000));
        EXPECT_TRUE(more.status == 200 || more.status == 409) << more.status << more.body;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(ViewServiceOpen, NamesTheFileItCannotOpen) {
  ViewService service;
  std::string error;
  EXPECT_FALSE(service.Open({"/nonexistent/x.qzv"}, 0, error));
  EXPECT_NE(error.find("/nonexistent/x.qzv"), std::string::npos);
}

TEST(ViewCommand, BadUsageExitsTwoBeforeOpeningAnything) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"--port", "70000", "a.qzv"}, {"--budget", "5", "a.qzv"}, {"--host=", "a.qzv"},
      {"--frobnicate", "a.qzv"}, {"a.qzv", "--port"}};
  for (const auto& words : cases) EXPECT_EQ(RunView(words), 2) << words.size();
  EXPECT_EQ(RunView({"/nonexistent/a.qzv", "--port", "0"}), 1);
}

}  // namespace
}  // namespace viewer
}  // namespace vorlin
