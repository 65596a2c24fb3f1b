#ifndef VORLIN_TESTS_TOOLS_CLI_RUNNER_H
#define VORLIN_TESTS_TOOLS_CLI_RUNNER_H

// Runs the vorlin program in a child process and collects what it printed.

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "synth/synth.h"

namespace vorlin_test {

struct CliResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs vorlin with args; extraEnv entries are "NAME=value".
CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {});

// A running vorlin whose stderr the test reads while it works.
class CliChild {
 public:
  CliChild(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv);
  ~CliChild();
  bool WaitForStderr(const std::string& text);  // false at end of output
  void Signal(int signal);
  pid_t pid() const { return m_pid; }
  CliResult Finish();

 private:
  pid_t m_pid = -1;
  int m_errFd = -1;
  std::string m_outPath;
  std::string m_err;
};

bool Contains(const std::string& text, const std::string& part);

// Decodes a PNG; false when libpng cannot read it. pixels get RGB bytes.
bool DecodePng(const std::string& path, int& width, int& height, std::vector<unsigned char>& pixels);

// A scene whose coordinates sit on a binary grid, so that the LAS file stores
// them exactly and printed points can be matched one for one.
std::vector<synth::LasPoint> ExactScene(uint64_t count, uint32_t seed);
synth::LasOptions ExactLasOptions();
constexpr double kGridStep = 1.0 / 128.0;

// 20,000 points of seed 7 on the exact grid, written and imported once per
// test process and only read by the tests.
struct SharedScene {
  TempDir dir;
  std::string las = dir.file("scene.las"), qzv = dir.file("scene.qzv");
  std::vector<synth::LasPoint> points = ExactScene(20000, 7);
  CliResult import;
};
const SharedScene& Scene();

}  // namespace vorlin_test

#endif
