#ifndef VORLIN_TESTS_TOOLS_CLI_FIXTURE_H
#define VORLIN_TESTS_TOOLS_CLI_FIXTURE_H

// One small scene, written and imported once and shared by the tests that
// only read it.

#include <string>
#include <vector>

#include "cli_runner.h"
#include "support/temp_dir.h"

namespace vorlin_test {

struct SharedScene {
  TempDir dir;
  std::string las;
  std::string qzv;
  std::vector<synth::LasPoint> points;
  CliResult import;
};

// Built on first use: 20,000 points of seed 7 on the exact grid.
const SharedScene& Scene();

bool Contains(const std::string& text, const std::string& part);

}  // namespace vorlin_test

#endif
