#include <stdio.h>

#include <string>

#include "args.h"
#include "cli_common.h"
#include "commands.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kSaveV3Usage[] =
    "usage: vorlin save-v3 IN.qzv OUT.qzv\n"
    "\n"
    "Writes a version-3 copy of a version-4 QZV file, for readers that know only\n"
    "version 3. Intensity, normals and custom bytes are dropped.\n";

int RunSaveV3(const Words& words) {
  const std::string command = "save-v3";
  Args args(words, {});
  if (args.helpRequested()) return PrintUsage(kSaveV3Usage);
  args.requirePositional(2, 2);
  const std::string input = args.positional()[0];
  const std::string output = args.positional()[1];

  Engine engine;
  QzvSummary summary;
  if (!engine.Open(command, input, 0, summary)) return kExitFailure;
  if (summary.version != 4) {
    PrintError(command, Quote(input) + " is a version-" + std::to_string(summary.version) +
                            " file; only version-4 files can be saved as version 3");
    return kExitFailure;
  }
  if (SameFile(input, output)) {
    PrintError(command, "cannot write " + Quote(output) + ": it is the input file");
    return kExitFailure;
  }
  std::string problem = OutputFolderProblem(output);
  if (!problem.empty()) {
    PrintError(command, "cannot create " + Quote(output) + ": " + problem);
    return kExitFailure;
  }
  std::wstring wide = Widen(output);
  if (!engine->saveAsVersion(wide.c_str(), 3)) {
    PrintError(command, "writing " + Quote(output) + " failed: the library could not write the copy");
    return kExitFailure;
  }
  int64_t size = FileSize(output);
  printf("wrote %s: version 3, %s points, %s\n", Quote(output).c_str(),
         GroupThousands(summary.totalPoints).c_str(),
         size >= 0 ? FormatBytes(uint64_t(size)).c_str() : "size unknown");
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
