// However a command ends, its output exists complete or not at all: Ctrl-C,
// a second Ctrl-C, SIGTERM and even SIGKILL leave nothing in the folder, with
// unnamed files and with the named fallback.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <utility>
#include <thread>

#include "cli_runner.h"

namespace vorlin_test {
namespace {

// True once the child holds an open file in folder (its output, unnamed or
// hidden), so that a signal lands while it writes.
bool WaitUntilWriting(pid_t pid, const std::string& folder) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (int i = 0; i < 3000; ++i) {
    if (DIR* d = opendir(fds.c_str())) {
      bool found = false;
      while (dirent* e = readdir(d)) {
        char target[4096];
        ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, size_t(n)).compare(0, folder.size() + 1, folder + "/") == 0) found = true;
      }
      closedir(d);
      if (found) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

TEST(CliSignals, EveryWayOfEndingLeavesNoFile) {
  struct Case {
    std::vector<int> signals;
    int exitCode;  // -1: killed
    bool namedFallback;
  };
  const Case cases[] = {{{SIGINT}, 130, false}, {{SIGTERM}, 143, false}, {{SIGKILL}, -1, false},
                        {{SIGHUP}, 129, true},  {{SIGTERM}, 143, true}};
  for (const Case& c : cases) {
    TempDir dir;
    std::vector<std::string> env;
    if (c.namedFallback) env.push_back("VORLIN_CLI_NAMED_TEMP=1");
    CliChild child({"generate", dir.file("big.las"), "--points", "30000000"}, env);
    ASSERT_TRUE(WaitUntilWriting(child.pid(), dir.path()));
    for (int s : c.signals) child.Signal(s);
    CliResult r = child.Finish();
    EXPECT_EQ(r.exitCode, c.exitCode) << c.signals[0] << " " << r.err;
    EXPECT_EQ(dir.EntryCount(), 0u) << c.signals[0];
  }
}

TEST(CliSignals, ConvertEndedBySignalLeavesNoFile) {
  TempDir sources;
  ASSERT_EQ(RunCli({"generate", sources.file("big.las"), "--points", "3000000"}).exitCode, 0);
  for (const std::pair<int, int>& c : {std::make_pair(SIGINT, 130), std::make_pair(SIGTERM, 143)}) {
    TempDir dir;
    CliChild child({"convert", sources.file("big.las"), dir.file("big.laz")}, {});
    ASSERT_TRUE(WaitUntilWriting(child.pid(), dir.path()));
    child.Signal(c.first);
    CliResult r = child.Finish();
    EXPECT_EQ(r.exitCode, c.second) << r.err;
    EXPECT_EQ(dir.EntryCount(), 0u) << c.first;
  }
}

}  // namespace
}  // namespace vorlin_test
