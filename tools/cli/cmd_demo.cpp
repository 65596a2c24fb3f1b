#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "args.h"
#include "cli_common.h"
#include "commands.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kDemoUsage[] =
    "usage: vorlin demo [DIR] [--points N] [--seed S]\n"
    "\n"
    "Generates a synthetic scene, imports it, describes the file, runs a frustum\n"
    "query and a few cursor refinements, and renders a picture, all into DIR\n"
    "(default demo-out, created when missing).\n"
    "\n"
    "  --points N  points in the scene (default 2000000)\n"
    "  --seed S    seed of the scene (default 1)\n";

namespace {

void Step(const char* title) {
  printf("\n== %s\n", title);
  fflush(stdout);
}

// A camera south of the scene, above it, looking at its centre.
std::string DemoFrustum(const double minimum[3], const double maximum[3]) {
  double size[3], target[3];
  for (int a = 0; a < 3; ++a) {
    size[a] = maximum[a] - minimum[a];
    target[a] = minimum[a] + size[a] * 0.5;
  }
  const double eye[3] = {target[0], minimum[1] - 0.4 * size[1],
                         maximum[2] + 0.35 * std::max(size[0], size[1])};
  const double up[3] = {0, 0, 1};
  double distance = 0;
  for (int a = 0; a < 3; ++a) distance += (target[a] - eye[a]) * (target[a] - eye[a]);
  distance = std::sqrt(distance);
  // 50 by 36 degrees.
  const double aspect = std::tan(25.0 * M_PI / 180.0) / std::tan(18.0 * M_PI / 180.0);
  VorlinViewFrustum view;
  double corners[24];
  if (!makeCameraFrustum(eye, target, up, 36.0, aspect, 1.0, 2.0 * distance, view, corners)) {
    return std::string();
  }
  std::string list;
  char number[40];
  for (double v : corners) {
    snprintf(number, sizeof number, "%s%.6f", list.empty() ? "" : ",", v);
    list += number;
  }
  return list;
}

}  // namespace

int RunDemo(const Words& words) {
  const std::string command = "demo";
  Args args(words, {{"points", true}, {"seed", true}});
  if (args.helpRequested()) return PrintUsage(kDemoUsage);
  args.requirePositional(0, 1);
  const std::string dir = args.positional().empty() ? "demo-out" : args.positional()[0];
  const std::string points = args.value("points", "2000000");
  uint64_t pointCount = 0;
  if (!ParseUnsigned(points, pointCount) || pointCount < 1000 || pointCount > 100000000) {
    throw UsageError{"--points needs a whole number from 1000 to 100000000"};
  }
  // A tenth of the scene, at most 200,000 points, in four refinements.
  const uint64_t sample = std::min<uint64_t>(200000, pointCount / 10);
  const std::string sampleText = std::to_string(sample);
  const std::string batchText = std::to_string(sample / 4);
  const std::string seed = args.value("seed", "1");
  uint64_t seedValue = 0;
  if (!ParseUnsigned(seed, seedValue) || seedValue > 0xFFFFFFFFull) {
    throw UsageError{"--seed needs a whole number from 0 to 4294967295"};
  }

  if (!IsDirectory(dir)) {
    if (mkdir(dir.c_str(), 0777) != 0) {
      PrintError(command, "cannot create folder " + Quote(dir) + ": " + strerror(errno));
      return kExitFailure;
    }
  }
  const std::string las = dir + "/scene.las";
  const std::string qzv = dir + "/scene.qzv";
  const std::string frustumCsv = dir + "/frustum.csv";
  const std::string cursorXyz = dir + "/cursor.xyz";
  const std::string v3 = dir + "/scene-v3.qzv";
  const std::string png = dir + "/scene.png";

  Step("generating a synthetic scene");
  if (int rc = RunGenerate({las, "--points", points, "--seed", seed})) return rc;

  Step("importing it");
  if (int rc = RunImport({qzv, las})) return rc;

  Step("the indexed file");
  if (int rc = RunInfo({qzv})) return rc;

  std::string frustum;
  {
    Engine engine;
    QzvSummary summary;
    if (!engine.Open(command, qzv, 0, summary)) return kExitFailure;
    frustum = DemoFrustum(summary.minimum, summary.maximum);
  }
  if (frustum.empty()) {
    PrintError(command, "the scene is too flat for a camera view");
    return kExitFailure;
  }
  Step(("frustum query: " + GroupThousands(sample) +
        " points seen from south of the scene, clipped to the view").c_str());
  printf("frustum corners: %s\n", frustum.c_str());
  fflush(stdout);
  if (int rc = RunQuery({qzv, "--frustum", frustum, "--far-clip", "--clip", "--count", sampleText,
                         "--preload", "16000000", "--out", frustumCsv})) {
    return rc;
  }

  Step(("cursor: refinements of " + GroupThousands(sample / 4) +
        " points through the same frustum, up to " + GroupThousands(sample)).c_str());
  if (int rc = RunQuery({qzv, "--frustum", frustum, "--far-clip", "--mode", "cursor", "--batch",
                         batchText, "--count", sampleText, "--format", "xyz", "--out", cursorXyz})) {
    return rc;
  }

  Step("version-3 copy");
  if (int rc = RunSaveV3({qzv, v3})) return rc;

  Step("rendering a level-of-detail sample");
  if (int rc = RunRender({qzv, png, "--view", "iso"})) return rc;

  Step("done");
  printf("everything is in %s:\n", Quote(dir).c_str());
  printf("  %-28s the generated source\n", las.c_str());
  printf("  %-28s the indexed file (try: vorlin info %s)\n", qzv.c_str(), qzv.c_str());
  printf("  %-28s points of the frustum query (csv)\n", frustumCsv.c_str());
  printf("  %-28s points of the cursor refinements (xyz)\n", cursorXyz.c_str());
  printf("  %-28s a version-3 copy\n", v3.c_str());
  printf("  %-28s the picture\n", png.c_str());
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
