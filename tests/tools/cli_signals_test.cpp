// However a command ends, its output exists complete or not at all: Ctrl-C,
// SIGTERM, SIGHUP and even SIGKILL leave nothing in the folder, with unnamed
// files and with the named fallback.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
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

// generate writes through an unnamed file or, with the fallback, a hidden
// named one; convert through the LAS writer's own.
TEST(CliSignals, EveryWayOfEndingLeavesNoFile) {
  TempDir sources;
  ASSERT_EQ(RunCli({"generate", sources.file("big.las"), "--points", "3000000"}).exitCode, 0);
  struct Case {
    bool convert;
    int signal;
    int exitCode;  // -1: killed
    bool namedFallback;
  };
  const Case cases[] = {{false, SIGINT, 130, false}, {false, SIGTERM, 143, false}, {false, SIGKILL, -1, false},
                        {false, SIGHUP, 129, true},  {false, SIGTERM, 143, true},  {true, SIGINT, 130, false},
                        {true, SIGTERM, 143, false}};
  for (const Case& c : cases) {
    TempDir dir;
    std::vector<std::string> env;
    if (c.namedFallback) env.push_back("VORLIN_CLI_NAMED_TEMP=1");
    CliChild child(c.convert ? std::vector<std::string>{"convert", sources.file("big.las"), dir.file("big.laz")}
                             : std::vector<std::string>{"generate", dir.file("big.las"), "--points", "30000000"},
                   env);
    ASSERT_TRUE(WaitUntilWriting(child.pid(), dir.path()));
    child.Signal(c.signal);
    CliResult r = child.Finish();
    EXPECT_EQ(r.exitCode, c.exitCode) << c.signal << " " << r.err;
    EXPECT_EQ(dir.EntryCount(), 0u) << c.signal;
  }
}

}  // namespace
}  // namespace vorlin_test
