#include <stdio.h>
#include <unistd.h>

#include <string>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "output_file.h"
#include "synth/synth.h"

namespace vorlin {
namespace cli {

const char kGenerateUsage[] =
    "usage: vorlin generate OUT.las|OUT.xyb [--points N] [--format 0-5] [--seed S] [--force]\n"
    "\n"
    "Writes a synthetic scene of terrain, buildings and trees, 200 m across. The\n"
    "same seed and point count always give the same file.\n"
    "\n"
    "  --points N  number of points (default 1000000)\n"
    "  --format F  LAS point data format 0 to 5 (default 3; .las only)\n"
    "  --seed S    seed of the scene (default 1)\n"
    "  --force     write through a symbolic link\n"
    "\n"
    "The file appears only when complete; Ctrl-C leaves nothing behind.\n";

int RunGenerate(const Words& words) {
  const std::string command = "generate";
  Args args(words, {{"points", true}, {"format", true}, {"seed", true}, {"force", false}});
  if (args.helpRequested()) return PrintUsage(kGenerateUsage);
  args.requirePositional(1, 1);
  const std::string output = args.positional()[0];
  const bool las = EndsWithNoCase(output, ".las");
  if (!las && !EndsWithNoCase(output, ".xyb")) {
    throw UsageError{"the output name must end in .las or .xyb"};
  }
  uint64_t points = 1000000, format = 3, seed = 1;
  if (args.has("points") && (!ParseUnsigned(args.value("points"), points) || points < 1 ||
                             points > 4000000000ull)) {
    throw UsageError{"--points needs a whole number from 1 to 4000000000"};
  }
  if (args.has("format")) {
    if (!las) throw UsageError{"--format applies to .las output only"};
    if (!ParseUnsigned(args.value("format"), format) || format > 5) {
      throw UsageError{"--format needs a LAS point data format from 0 to 5"};
    }
  }
  if (args.has("seed") && (!ParseUnsigned(args.value("seed"), seed) || seed > 0xFFFFFFFFull)) {
    throw UsageError{"--seed needs a whole number from 0 to 4294967295"};
  }
  std::string target;
  std::string problem = OutputProblem(output, args.has("force"), target);
  if (!problem.empty()) {
    PrintError(command, "cannot write " + Quote(output) + ": " + problem);
    return kExitFailure;
  }
  OutputFile file;
  std::string error;
  if (!file.Create(target, error)) {
    PrintError(command, "cannot write " + Quote(output) + ": " + error);
    return kExitFailure;
  }

  synth::SceneOptions scene;
  scene.points = points;
  scene.seed = uint32_t(seed);
  bool ok;
  if (las) {
    synth::LasOptions options;
    options.pointFormat = int(format);
    ok = synth::WriteSceneLas(file.writePath(), scene, options);
  } else {
    ok = synth::WriteSceneXyb(file.writePath(), scene);
  }
  if (!ok) {
    PrintError(command, "writing " + Quote(output) + " failed (no space, or not writable)");
    return kExitFailure;
  }
  if (!file.Commit(error)) {
    PrintError(command, "cannot write " + Quote(output) + ": " + error);
    return kExitFailure;
  }
  printf("wrote %s: %s, %s, seed %llu\n", Quote(output).c_str(), CountOf(points, "point").c_str(),
         las ? ("LAS point format " + std::to_string(format)).c_str() : "XYB",
         static_cast<unsigned long long>(seed));
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
