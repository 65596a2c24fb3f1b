#include <limits.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "output_file.h"
#include "png_writer.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kRenderUsage[] =
    "usage: vorlin render FILE.qzv OUT.png [--count N] [--size WxH] [--force]\n"
    "                     [--view top|front|side|iso]\n"
    "\n"
    "Draws a level-of-detail sample of the whole file as a PNG picture, in the\n"
    "file's colours when it has them and coloured by height otherwise.\n"
    "\n"
    "  --count N   points to draw (default 500000)\n"
    "  --size WxH  picture size in pixels (default 1024x768)\n"
    "  --view      top, front, side or iso (default iso)\n"
    "  --force     write through a symbolic link\n";

namespace {

struct View {
  double right[3];
  double up[3];
  double forward[3];  // into the picture
};

View MakeView(const std::string& name) {
  if (name == "top") return {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
  if (name == "front") return {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}};
  if (name == "side") return {{0, 1, 0}, {0, 0, 1}, {-1, 0, 0}};
  if (name == "iso") {
    const double r2 = 1.0 / std::sqrt(2.0), r3 = 1.0 / std::sqrt(3.0), r6 = 1.0 / std::sqrt(6.0);
    return {{r2, -r2, 0}, {r6, r6, 2 * r6}, {r3, r3, -r3}};
  }
  throw UsageError{"--view must be top, front, side or iso"};
}

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Blue through green and yellow to red as t runs from 0 to 1.
void HeightColour(double t, uint8_t rgb[3]) {
  t = std::min(1.0, std::max(0.0, t));
  const double stops[5][3] = {{40, 60, 200}, {40, 170, 200}, {70, 190, 70}, {235, 210, 60}, {220, 60, 40}};
  double scaled = t * 4.0;
  int i = std::min(3, static_cast<int>(scaled));
  double f = scaled - i;
  for (int c = 0; c < 3; ++c) {
    rgb[c] = static_cast<uint8_t>(stops[i][c] + (stops[i + 1][c] - stops[i][c]) * f + 0.5);
  }
}

void ParseSize(const std::string& text, int& width, int& height) {
  size_t x = text.find('x');
  uint64_t w = 0, h = 0;
  if (x == std::string::npos || !ParseUnsigned(text.substr(0, x), w) ||
      !ParseUnsigned(text.substr(x + 1), h) || w < 16 || h < 16 || w > 8192 || h > 8192) {
    throw UsageError{"--size needs WxH with each side from 16 to 8192, e.g. 1024x768"};
  }
  width = int(w);
  height = int(h);
}

}  // namespace

int RunRender(const Words& words) {
  const std::string command = "render";
  Args args(words, {{"count", true}, {"size", true}, {"view", true}, {"force", false}});
  if (args.helpRequested()) return PrintUsage(kRenderUsage);
  args.requirePositional(2, 2);
  const std::string path = args.positional()[0];
  const std::string output = args.positional()[1];
  uint64_t count = 500000;
  if (args.has("count") && (!ParseUnsigned(args.value("count"), count) || count < 1 ||
                            count > 50000000)) {
    throw UsageError{"--count needs a whole number from 1 to 50000000"};
  }
  int width = 1024, height = 768;
  if (args.has("size")) ParseSize(args.value("size"), width, height);
  const std::string viewName = args.value("view", "iso");
  const View view = MakeView(viewName);

  Engine engine;
  QzvSummary summary;
  if (!engine.Open(command, path, 0, summary)) return kExitFailure;
  std::string target;
  std::string problem = OutputProblem(output, args.has("force"), target);
  if (problem.empty() && SameFile(path, target)) problem = "it is the input file";
  if (!problem.empty()) {
    PrintError(command, "cannot write " + Quote(output) + ": " + problem);
    return kExitFailure;
  }

  Released<IPointCloudQuery> query(engine->createQuery(nullptr, false));
  if (!query.get()) {
    PrintError(command, "out of memory");
    return kExitFailure;
  }
  count = std::min<uint64_t>(count, engine->totalPointCount());
  std::vector<CellPoint> points(size_t(std::max<uint64_t>(count, 1)));
  unsigned int got = count ? engine->getPoints(query.get(), points.data(), unsigned(count)) : 0;
  if (got == 0 && count > 0) {
    PrintError(command, Quote(path) + ": no points could be read");
    return kExitFailure;
  }
  points.resize(got);

  bool hasRgb = false;
  engine->hasAttribute(L"RGB", hasRgb);
  bool anyColour = false;
  for (const CellPoint& p : points) anyColour = anyColour || (p.color & 0xFFFFFFu) != 0;
  const bool useRgb = hasRgb && anyColour;

  // Fit the file's whole box, so that the picture frames the cloud the same
  // way whatever the sample.
  double centre[3];
  engine->getCentre(centre[0], centre[1], centre[2]);
  double uMin = 1e300, uMax = -1e300, vMin = 1e300, vMax = -1e300;
  for (int corner = 0; corner < 8; ++corner) {
    double p[3];
    for (int a = 0; a < 3; ++a) {
      p[a] = ((corner >> a) & 1 ? summary.maximum[a] : summary.minimum[a]) - centre[a];
    }
    uMin = std::min(uMin, Dot(p, view.right));
    uMax = std::max(uMax, Dot(p, view.right));
    vMin = std::min(vMin, Dot(p, view.up));
    vMax = std::max(vMax, Dot(p, view.up));
  }
  const double margin = 8.0;
  double scale = std::min((width - 2 * margin) / std::max(uMax - uMin, 1e-9),
                          (height - 2 * margin) / std::max(vMax - vMin, 1e-9));
  double offsetU = (width - (uMax - uMin) * scale) / 2.0;
  double offsetV = (height - (vMax - vMin) * scale) / 2.0;
  // Sparse samples get bigger dots so that surfaces still read as surfaces.
  int splat = int(std::ceil(std::sqrt(double(width) * height * 0.4 / std::max<size_t>(got, 1))));
  splat = std::max(1, std::min(4, splat));
  const double zMin = summary.minimum[2] - centre[2];
  const double zSpan = std::max(summary.maximum[2] - summary.minimum[2], 1e-9);

  RgbImage image(width, height, 24, 26, 32);
  std::vector<float> depth(size_t(width) * size_t(height), std::numeric_limits<float>::infinity());
  for (const CellPoint& cp : points) {
    const double p[3] = {cp.x, cp.y, cp.z};
    double u = (Dot(p, view.right) - uMin) * scale + offsetU;
    double v = height - ((Dot(p, view.up) - vMin) * scale + offsetV);
    float d = float(Dot(p, view.forward));
    // A flat cloud makes the scale huge; positions far off the picture are
    // skipped before they reach integer arithmetic.
    if (!std::isfinite(u) || !std::isfinite(v) || !std::isfinite(d)) continue;
    if (u < -splat || u > width + splat || v < -splat || v > height + splat) continue;
    uint8_t rgb[3];
    if (useRgb) {
      rgb[0] = uint8_t(cp.color >> 16);
      rgb[1] = uint8_t(cp.color >> 8);
      rgb[2] = uint8_t(cp.color);
    } else {
      HeightColour((p[2] - zMin) / zSpan, rgb);
    }
    int x0 = int(u) - splat / 2, y0 = int(v) - splat / 2;
    for (int y = std::max(0, y0); y < std::min(height, y0 + splat); ++y) {
      for (int x = std::max(0, x0); x < std::min(width, x0 + splat); ++x) {
        float& nearest = depth[size_t(y) * size_t(width) + size_t(x)];
        if (d < nearest) {
          nearest = d;
          image.set(x, y, rgb[0], rgb[1], rgb[2]);
        }
      }
    }
  }

  OutputFile file;
  std::string error;
  if (!file.Create(target, error) || !WritePng(file.fd(), image, error) || !file.Commit(error)) {
    PrintError(command, "cannot write " + Quote(output) + ": " + error);
    return kExitFailure;
  }
  printf("wrote %s: %d x %d, %s, %s view, %s\n", Quote(output).c_str(), width, height,
         CountOf(got, "point").c_str(), viewName.c_str(),
         useRgb ? "file colours" : "coloured by height");
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
