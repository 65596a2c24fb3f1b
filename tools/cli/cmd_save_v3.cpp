#include <stdio.h>

#include <string>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "output_file.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kSaveV3Usage[] =
    "usage: vorlin save-v3 [--force] IN.qzv OUT.qzv\n"
    "\n"
    "Writes a version-3 copy of a version-4 QZV file, for readers that know only\n"
    "version 3. Intensity, normals and custom bytes are dropped. The copy appears\n"
    "only when complete; --force writes through a symbolic link.\n";

int RunSaveV3(const Words& words) {
  const std::string command = "save-v3";
  Args args(words, {{"force", false}});
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
  std::string target;
  std::string problem = OutputProblem(output, args.has("force"), target);
  if (problem.empty() && SameFile(input, target)) problem = "it is the input file";
  if (!problem.empty()) {
    PrintError(command, "cannot write " + Quote(output) + ": " + problem);
    return kExitFailure;
  }
  // The copy is written under no name and takes the final one only when
  // complete: a failure leaves an earlier file of that name as it was.
  OutputFile file;
  std::string error;
  if (!file.Create(target, error)) {
    PrintError(command, "cannot write " + Quote(output) + ": " + error);
    return kExitFailure;
  }
  std::wstring wide = Widen(file.writePath());
  if (!engine->saveAsVersion(wide.c_str(), 3)) {
    PrintError(command, "writing " + Quote(output) + " failed: the library could not write the copy");
    return kExitFailure;
  }
  if (!file.Commit(error)) {
    PrintError(command, "cannot write " + Quote(output) + ": " + error);
    return kExitFailure;
  }
  int64_t size = FileSize(target);
  printf("wrote %s: version 3, %s, %s\n", Quote(output).c_str(),
         CountOf(summary.totalPoints, "point").c_str(),
         size >= 0 ? FormatBytes(uint64_t(size)).c_str() : "size unknown");
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
