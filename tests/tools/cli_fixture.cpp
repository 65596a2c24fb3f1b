#include "cli_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vorlin_test {

namespace {

namespace fs = std::filesystem;

// Imports are the slow part of these tests (more so under sanitizers), so
// ctest builds the scene once in a setup test and every test process reuses
// it; a test run on its own builds a private one.
const char kSharedDir[] = VORLIN_TOOLS_SCENE_DIR;

void Build(const std::string& folder, SharedScene& s) {
  s.las = folder + "/scene.las";
  s.qzv = folder + "/scene.qzv";
  synth::WriteLas(s.las, s.points, ExactLasOptions());
  s.import = RunCli({"import", s.qzv, s.las});
}

void Save(const std::string& folder, const CliResult& import) {
  std::ofstream(folder + "/import.out") << import.out;
  std::ofstream(folder + "/import.err") << import.err;
  // Written last: its presence means the folder is complete.
  std::ofstream(folder + "/import.rc") << import.exitCode;
}

bool Load(const std::string& folder, SharedScene& s) {
  std::ifstream rc(folder + "/import.rc");
  if (!(rc >> s.import.exitCode)) return false;
  s.las = folder + "/scene.las";
  s.qzv = folder + "/scene.qzv";
  s.import.out = ReadFileText(folder + "/import.out");
  s.import.err = ReadFileText(folder + "/import.err");
  return true;
}

SharedScene* MakeScene() {
  SharedScene* s = new SharedScene;
  s->points = ExactScene(20000, 7);
  if (!Load(kSharedDir, *s)) Build(s->dir.path().string(), *s);
  return s;
}

}  // namespace

const SharedScene& Scene() {
  static SharedScene* scene = MakeScene();
  return *scene;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Run by ctest as the setup of every other test (see CMakeLists.txt).
TEST(SharedSceneSetup, DISABLED_Build) {
  std::error_code ec;
  fs::remove_all(kSharedDir, ec);
  ASSERT_TRUE(fs::create_directories(kSharedDir));
  SharedScene s;
  s.points = ExactScene(20000, 7);
  Build(kSharedDir, s);
  Save(kSharedDir, s.import);
  EXPECT_EQ(s.import.exitCode, 0) << s.import.err;
}

}  // namespace vorlin_test
