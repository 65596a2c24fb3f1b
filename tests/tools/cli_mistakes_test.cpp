// Everyday mistakes, as a table: each leaves the folder exactly as it was
// (no new file, no file changed or replaced) and says what went wrong.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "cli_runner.h"

namespace vorlin_test {
namespace {

namespace fs = std::filesystem;

// Name -> kind and content, for every entry of a folder.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename();
    if (e.is_symlink()) entries[name] = "link:" + fs::read_symlink(e.path()).string();
    else if (e.is_regular_file()) entries[name] = "file:" + ReadText(e.path());
    else entries[name] = "other";
  }
  return entries;
}

std::string Expand(const std::string& word, const TempDir& dir) {
  return word.compare(0, 2, "@/") == 0 ? dir.file(word.substr(2)) : word;
}

TEST(CliMistakes, RefusedWithAReasonAndNothingLeftOrChanged) {
  TempDir dir;
  ASSERT_TRUE(synth::WriteLas(dir.file("a.las"), ExactScene(2000, 3), ExactLasOptions()));
  fs::copy_file(dir.file("a.las"), dir.file("b.las"));
  ASSERT_EQ(RunCli({"import", "--quiet", dir.file("s.qzv"), dir.file("a.las")}).exitCode, 0);
  fs::copy_file(dir.file("s.qzv"), dir.file("ro.qzv"));
  chmod(dir.file("ro.qzv").c_str(), 0444);
  std::ofstream(dir.file("old.qzv")) << "my notes, not an index\n";
  std::ofstream(dir.file("notes.las")) << "my notes, not a point file\n";
  std::ofstream(dir.file("notes.txt")) << "not points\n";
  std::ofstream(dir.file("empty.qzv"));
  ASSERT_TRUE(synth::WriteLas(dir.file("none.las"), {}, ExactLasOptions()));
  // Read-only for everyone but root.
  fs::create_directory(dir.file("locked"));
  chmod(dir.file("locked").c_str(), 0555);
  ASSERT_EQ(mkfifo(dir.file("fifo.qzv").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo(dir.file("fifo.las").c_str(), 0644), 0);
  fs::create_symlink("s.qzv", dir.file("link.qzv"));
  // A header the library refuses that looks sound from outside: records
  // longer than any reader accepts.
  std::string wide = ReadText(dir.file("a.las"));
  wide[105] = '\xFF', wide[106] = '\xFF';
  std::ofstream(dir.file("wide.las"), std::ios::binary) << wide;
  const auto before = Snapshot(dir.path());

  struct Mistake {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
    std::vector<std::string> env = {};
  };
  std::vector<Mistake> mistakes = {
      {{"import", "@/a.las", "@/b.las"}, 2, "does not end in .qzv"},
      {{"import", "@/n.qzv", "@/missing.las"}, 1, "missing.las': no such file"},
      {{"import", "@/n.qzv", "@/notes.txt"}, 1, "notes.txt': unsupported source format"},
      {{"import", "@/n.qzv", "@/notes.las"}, 1, "notes.las'"},
      {{"import", "@/n.qzv", "@/none.las"}, 1, "none.las': no points: the file holds no points"},
      {{"import", "--force", "@/notes.las", "@/notes.las"}, 1, "it is one of the inputs"},
      {{"import", "@/no/such/folder/n.qzv", "@/a.las"}, 1, "does not exist"},
      {{"import", "@/a.las/n.qzv", "@/a.las"}, 1, "is not a folder"},
      {{"import", "@/old.qzv", "@/a.las"}, 1, "is not a QZV file; give --force"},
      {{"import", "--force", "@/ro.qzv", "@/a.las"}, 1, "is write-protected"},
      {{"import", "@/fifo.qzv", "@/a.las"}, 1, "is a FIFO"},
      {{"import", "@/link.qzv", "@/a.las"}, 1, "is a symbolic link"},
      {{"import", "--force", "/dev/null", "@/a.las"}, 1, "is a device"},
      {{"import", "@/n.qzv", "@/fifo.las"}, 1, "fifo.las': is a FIFO (named pipe), not a file"},
      {{"import", "@/n.qzv", "@/a.las"}, 1, "TMPDIR='/nonexistent/tmp' does not exist", {"TMPDIR=/nonexistent/tmp"}},
      {{"import", "@/n.qzv", "@/a.las"}, 1, "TMPDIR='/dev/null' is not a folder", {"TMPDIR=/dev/null"}},
      {{"query", "@/s.qzv", "--out", "/dev/full"}, 1, "is a device"},
      {{"query", "@/s.qzv", "--out", "@/s.qzv"}, 1, "it is the input file"},
      {{"query", "@/s.qzv", "--count", "0"}, 2, "--count 0 would deliver nothing"},
      {{"query", "@/s.qzv", "--out", "@/none/p.csv"}, 1, "none/p.csv"},
      {{"query", "@/a.las"}, 1, "a.las': not a QZV file"},
      {{"render", "@/s.qzv", "@/none/x.png"}, 1, "none/x.png"},
      {{"generate", "@/none/a.las"}, 1, "none/a.las"},
      {{"is-local", "@/empty.qzv"}, 1, "empty.qzv'"},
      {{"is-local", "@/gone.qzv"}, 1, "gone.qzv'"},
      {{"render", "@/s.qzv", "@/fifo.qzv"}, 1, "is a FIFO"},
      {{"render", "@/s.qzv", "@/link.qzv"}, 1, "is a symbolic link"},
      {{"save-v3", "@/s.qzv", "@/ro.qzv"}, 1, "is write-protected"},
      {{"save-v3", "@/s.qzv", "/dev/null"}, 1, "is a device"},
      {{"import", "--builtin-reader", "@/n.qzv", "@/a.las", "@/wide.las"}, 1, "the source that fails is '" + dir.file("wide.las") + "'"},
      {{"convert", "@/a.las", "@/old.qzv"}, 2, "must end in .las or .laz"},
      {{"convert", "@/a.las", "@/notes.las"}, 1, "is not a LAS or LAZ file; give --force"},
      {{"convert", "@/a.las", "@/a.las"}, 1, "it is the input"},
      {{"info", "@/fifo.qzv"}, 1, "is a FIFO"},
  };
  if (geteuid() != 0) mistakes.push_back({{"import", "@/locked/n.qzv", "@/a.las"}, 1, "not writable"});
  for (const Mistake& m : mistakes) {
    std::vector<std::string> args;
    for (const std::string& word : m.args) args.push_back(Expand(word, dir));
    CliResult r = RunCli(args, m.env);
    EXPECT_EQ(r.exitCode, m.exitCode) << m.args[0] << " " << m.message << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, m.message)) << r.err;
    EXPECT_TRUE(Snapshot(dir.path()) == before) << m.message;
  }
  chmod(dir.file("locked").c_str(), 0755);
  struct stat info;
  ASSERT_EQ(stat("/dev/full", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  ASSERT_EQ(stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(CliMistakes, OutputLostOnAFullDeviceIsAFailure) {
  const std::string program = VORLIN_CLI_PATH;
  for (const std::string& args : std::vector<std::string>{"--help", "--version", "info " + Scene().qzv,
                                                          "local-name //server/share/site.qzv"}) {
    int status = std::system((program + " " + args + " > /dev/full 2> /dev/null").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << args;
  }
}

TEST(CliMistakes, ForceWritesThroughALinkAndOverAForeignFile) {
  TempDir dir;
  ASSERT_TRUE(synth::WriteLas(dir.file("a.las"), ExactScene(1000, 4), ExactLasOptions()));
  std::ofstream(dir.file("real.qzv")) << "old\n";
  fs::create_symlink("real.qzv", dir.file("link.qzv"));
  chmod(dir.file("real.qzv").c_str(), 0640);
  CliResult r = RunCli({"import", "--quiet", "--force", dir.file("link.qzv"), dir.file("a.las")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir.file("link.qzv")));
  EXPECT_EQ(ReadText(dir.file("real.qzv")).substr(0, 3), "QZV");
  EXPECT_EQ(fs::status(dir.file("real.qzv")).permissions(), fs::perms(0640));
  EXPECT_EQ(dir.EntryCount(), 3u);
}

TEST(CliMistakes, PartialSourcesAndDroppedAttributesAreReported) {
  TempDir dir;
  ASSERT_TRUE(synth::WriteLas(dir.file("a.las"), ExactScene(3000, 5), ExactLasOptions()));
  std::string whole = ReadText(dir.file("a.las"));
  // 400 records short of what the header announces.
  std::ofstream(dir.file("cut.las"), std::ios::binary) << whole.substr(0, whole.size() - 400 * 34);
  synth::SceneOptions scene;
  scene.points = 1000;
  ASSERT_TRUE(synth::WriteSceneXyb(dir.file("grey.xyb"), scene));
  CliResult r = RunCli({"import", dir.file("m.qzv"), dir.file("a.las"), dir.file("cut.las"), dir.file("grey.xyb")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "cut.las: 2,600 of 3,000 points (the file ends early)")) << r.out;
  EXPECT_TRUE(Contains(r.out, "a.las: 3,000 points")) << r.out;
  EXPECT_TRUE(Contains(r.out, "points:      6,600")) << r.out;
  EXPECT_TRUE(Contains(r.out, "attributes:  colour; dropped: intensity, custom byte")) << r.out;
  EXPECT_TRUE(Contains(r.err, "warning: '" + dir.file("cut.las") + "' ends after 2,600 points")) << r.err;
  EXPECT_TRUE(Contains(r.err, "intensity dropped from every point: '" + dir.file("grey.xyb") + "' has none"));
  r = RunCli({"convert", dir.file("cut.las"), dir.file("cut.laz")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "warning: '" + dir.file("cut.las") + "' ends after 2,600 points of the 3,000")) << r.err;
}

}  // namespace
}  // namespace vorlin_test
