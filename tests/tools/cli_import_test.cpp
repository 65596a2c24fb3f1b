// The import command: summary, progress lines, clear failures naming the
// file, and a clean Ctrl-C.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli_runner.h"

namespace vorlin_test {
namespace {

TEST(CliImport, SummarisesAndReportsProgressLineByLine) {
  const SharedScene& scene = Scene();
  ASSERT_EQ(scene.import.exitCode, 0) << scene.import.err;
  EXPECT_TRUE(Contains(scene.import.out, "points:      20,000")) << scene.import.out;
  EXPECT_TRUE(Contains(scene.import.out, "cells:"));
  EXPECT_TRUE(Contains(scene.import.out, "attributes:  colour, intensity, custom byte\n")) << scene.import.out;
  // No rate from a fraction of a second.
  EXPECT_FALSE(Contains(scene.import.out, "points/s"));
  EXPECT_TRUE(Contains(scene.import.out, "output size:"));
  // Not a terminal: one line per 10%, ending at 100%.
  EXPECT_TRUE(Contains(scene.import.err, "import: 50%")) << scene.import.err;
  EXPECT_TRUE(Contains(scene.import.err, "import: 100%"));
  EXPECT_FALSE(Contains(scene.import.err, "\r"));
}

TEST(CliImport, QuietAttributesAndSeveralInputs) {
  TempDir dir;
  const std::string a = dir.file("a.las"), b = dir.file("b.las"), out = dir.file("ab.qzv");
  ASSERT_TRUE(synth::WriteLas(a, ExactScene(3000, 1), ExactLasOptions()));
  ASSERT_TRUE(synth::WriteLas(b, ExactScene(2000, 2), ExactLasOptions()));
  CliResult r = RunCli({"import", "--quiet", "--attributes", "rgb", out, a, b});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  CliResult info = RunCli({"info", out});
  EXPECT_TRUE(Contains(info.out, "points:          5,000")) << info.out;
  EXPECT_TRUE(Contains(info.out, "attributes:      RGB\n")) << info.out;
  // Nothing but the inputs and the output is left in the folder.
  EXPECT_EQ(dir.EntryCount(), 3u);
}

TEST(CliImport, FailuresNameTheFileAndLeaveNothing) {
  const SharedScene& scene = Scene();
  TempDir dir;
  const std::string out = dir.file("out.qzv");
  const std::string text = dir.file("notes.txt");
  std::ofstream(text) << "not points\n";
  const std::string fakeLas = dir.file("fake.las");
  std::ofstream(fakeLas) << "this is no LAS file at all, but long enough to have a header....";

  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"import", out, dir.file("missing.las")}, "missing.las': no such file"},
      {{"import", out, text}, "notes.txt': unsupported source format"},
      {{"import", out, fakeLas}, "fake.las"},
      {{"import", "--force", fakeLas, fakeLas}, "it is one of the inputs"},
      {{"import", dir.file("no/such/folder/out.qzv"), scene.las}, "does not exist"},
      // A folder that cannot be written even by root: one under a file.
      {{"import", scene.las + "/out.qzv", scene.las}, "is not a folder"},
  };
  for (const Case& c : cases) {
    CliResult r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.message << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(dir.EntryCount(), 2u);  // the two inputs only
}

TEST(CliImport, ReadOnlyFolderIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempDir dir;
  std::filesystem::create_directory(dir.file("locked"));
  chmod(dir.file("locked").c_str(), 0555);
  CliResult r = RunCli({"import", dir.file("locked/out.qzv"), Scene().las});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "not writable")) << r.err;
  chmod(dir.file("locked").c_str(), 0755);
}

TEST(CliImport, InterruptCancelsWithoutLeavingFiles) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("tmp"));
  const std::string las = dir.file("big.las"), out = dir.file("big.qzv");
  synth::SceneOptions options;
  options.points = 400000;
  ASSERT_TRUE(synth::WriteSceneLas(las, options));

  CliChild child({"import", out, las}, {"TMPDIR=" + dir.file("tmp")});
  ASSERT_TRUE(child.WaitForStderr("import: 20%"));
  child.Signal(SIGINT);
  CliResult r = child.Finish();
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_TRUE(Contains(r.err, "cancelled")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(dir.EntryCount(), 2u);  // the source and the empty tmp folder
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
}

}  // namespace
}  // namespace vorlin_test
