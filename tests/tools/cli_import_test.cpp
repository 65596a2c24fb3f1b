// The import command: summary, progress lines, several inputs and a clean
// Ctrl-C (its refusals are in the mistakes table).

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

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
