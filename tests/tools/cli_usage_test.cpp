// Help and bad usage for every subcommand: help exits 0, bad usage 2 with a
// message that points at --help.

#include <gtest/gtest.h>

#include "cli_runner.h"

namespace vorlin_test {
namespace {

const char* const kCommands[] = {"import", "info",     "query",      "render", "save-v3",
                                 "generate", "is-local", "local-name", "demo"};

TEST(CliUsage, HelpExitsZeroAndBadUsageTwoWithAHint) {
  for (const char* command : kCommands) {
    CliResult r = RunCli({command, "--help"});
    EXPECT_EQ(r.exitCode, 0) << command;
    EXPECT_TRUE(Contains(r.out, std::string("usage: vorlin ") + command)) << r.out;
  }
  CliResult overview = RunCli({"--help"});
  EXPECT_EQ(overview.exitCode, 0);
  for (const char* command : kCommands) EXPECT_TRUE(Contains(overview.out, command));
  CliResult none = RunCli({});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_TRUE(Contains(none.err, "usage: vorlin COMMAND"));
  CliResult unknown = RunCli({"frobnicate"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Contains(unknown.err, "unknown command 'frobnicate'"));

  const std::vector<std::vector<std::string>> cases = {
      {"import", "out.qzv"}, {"import", "--attributes", "rgb,colour", "out.qzv", "in.las"},
      {"import", "--bogus", "out.qzv", "in.las"}, {"info", "a.qzv", "b.qzv"}, {"info", "--json=yes", "a.qzv"},
      {"query", "a.qzv", "--box", "1,2,3,4,5"}, {"query", "a.qzv", "--box", "0,0,0,1,1,1", "--frustum", "1"},
      {"query", "a.qzv", "--near-clip"}, {"query", "a.qzv", "--count", "-5"}, {"query", "a.qzv", "--batch", "0"},
      {"query", "a.qzv", "--count"}, {"query", "a.qzv", "--mode", "all"},
      {"render", "a.qzv", "b.png", "--size", "800"}, {"render", "a.qzv", "b.png", "--view", "under"},
      {"save-v3", "a.qzv"}, {"generate", "out.txt"}, {"generate", "out.xyb", "--format", "1"},
      {"generate", "out.las", "--points", "many"}, {"is-local"}, {"local-name", "a", "b"}, {"demo", "a", "b"},
  };
  for (const auto& args : cases) {
    CliResult r = RunCli(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.exitCode, 2) << joined << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, "--help")) << joined << "\n" << r.err;
  }
}

}  // namespace
}  // namespace vorlin_test
