#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <cmath>
#include <string>
#include <vector>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "interrupts.h"
#include "output_file.h"
#include "point_export.h"
#include "point_writer.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kQueryUsage[] =
    "usage: vorlin query FILE.qzv [--box X0,Y0,Z0,X1,Y1,Z1 | --frustum N1,...,N24]\n"
    "                    [--near-clip] [--far-clip] [--whole-cells] [--count N]\n"
    "                    [--mode points|set|cursor] [--batch N] [--block N]\n"
    "                    [--preload BYTES] [--format csv|xyz|las|laz] [--out FILE] [--force]\n"
    "\n"
    "Prints a level-of-detail sample of the points a box or view frustum sees, one\n"
    "point per line in world coordinates: x, y, z, red, green, blue, intensity,\n"
    "normal code, custom byte. Counts go to stderr.\n"
    "\n"
    "  --box          two opposite corners in world coordinates\n"
    "  --frustum      24 numbers: the corners near upper right, near upper left,\n"
    "                 near lower left, near lower right, then the same four far,\n"
    "                 named for a left-handed frame (x right, y up, looking along +z)\n"
    "  --near-clip, --far-clip  the near / far plane bounds the frustum\n"
    "  --whole-cells  deliver whole cells that the box or frustum touches, points\n"
    "                 outside it included (default: only points inside)\n"
    "  --count N      points wanted, at least 1 (default: every visible point)\n"
    "  --mode         points: an export or an even sample (default);\n"
    "                 set: a point set fetched in batches; cursor: successive\n"
    "                 refinements. Set and cursor give level-of-detail batches, not\n"
    "                 an export: they may stop short of the visible points.\n"
    "  --batch N      records per batch for set and cursor (default 65536)\n"
    "  --block N      points mode: records fetched at a time (default 262144);\n"
    "                 memory stays within this whatever the count\n"
    "  --preload BYTES  records the engine preloads in the background (default 0)\n"
    "  --format       csv (with a header line) or xyz (space separated; default csv);\n"
    "                 las or laz: a LAS 1.4 point format 7 file (needs --out)\n"
    "  --out FILE     write the points to FILE instead of stdout; it appears only\n"
    "                 when complete\n"
    "  --force        write --out through a symbolic link\n"
    "\n"
    "How a count is met: in points mode every visible cell gets a share of N by its\n"
    "level-of-detail value; when points outside the box or frustum are left out and\n"
    "fewer than N remain, the cells are read again for more, so N points arrive\n"
    "whenever N are inside. Coordinates print with the fewest decimals that give\n"
    "back the stored position.\n"
    "\n"
    "--clip is accepted for older scripts; clipping is the default.\n"
    "Ctrl-C stops with status 130 and leaves no partial --out file.\n";

namespace {

enum class Mode { kPoints, kSet, kCursor };

struct FilterOwner {
  IPointCloudFilter* filter = nullptr;
  ~FilterOwner() {
    if (filter) filter->release();
  }
};

// With point clipping a batch takes more records from the cells than pass the
// filters; the library puts the accepted ones first and marks the rest with
// NaN coordinates.
size_t CountWritten(const std::vector<CellPoint>& buffer, size_t consumed) {
  size_t n = 0;
  while (n < consumed && !std::isnan(buffer[n].x)) ++n;
  return n;
}

void Cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// Corners named for a right-handed frame make every plane face outwards and
// the frustum see nothing; say so rather than print an empty result.
bool FrustumLooksInsideOut(const std::vector<double>& c) {
  const double* nur = &c[0];
  const double* nul = &c[3];
  const double* nll = &c[6];
  double right[3], up[3], forward[3] = {0, 0, 0}, cross[3];
  for (int a = 0; a < 3; ++a) {
    right[a] = nur[a] - nul[a];
    up[a] = nul[a] - nll[a];
    for (int k = 0; k < 4; ++k) forward[a] += (c[12 + 3 * k + a] - c[3 * k + a]) / 4.0;
  }
  Cross(right, up, cross);
  return cross[0] * forward[0] + cross[1] * forward[1] + cross[2] * forward[2] < 0.0;
}

struct Visible {
  uint64_t cells = 0;
  double lodSum = 0.0;
  double smallestLod = 0.0;  // smallest positive LOD value of a visible cell
  uint64_t weightedPoints = 0;  // points of visible cells whose LOD value is positive
};

// The engine reports visible points but not cells; classify the same way.
Visible CountVisibleCells(const QzvSummary& summary, IPointCloudFilter* filter,
                          std::vector<bool>& cellVisible) {
  Visible visible;
  cellVisible.assign(size_t(summary.cellCount()), false);
  for (uint64_t k = 0; k < summary.cellCount(); ++k) {
    if (summary.counts[k] == 0) continue;
    if (filter) {
      double lo[3], hi[3];
      summary.cellBox(k, lo, hi);
      if (filter->classifyBox(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]) < 0) continue;
    }
    cellVisible[size_t(k)] = true;
    ++visible.cells;
    double lod = summary.lodValues[k];
    visible.lodSum += lod;
    if (lod > 0.0) {
      visible.weightedPoints += summary.counts[k];
      if (visible.smallestLod == 0.0 || lod < visible.smallestLod) visible.smallestLod = lod;
    }
  }
  return visible;
}

uint64_t ParseCountOption(const Args& args, const char* name, uint64_t fallback, uint64_t low,
                          uint64_t high) {
  if (!args.has(name)) return fallback;
  uint64_t value;
  if (!ParseUnsigned(args.value(name), value) || value < low || value > high) {
    throw UsageError{std::string("--") + name + " needs a whole number from " +
                     std::to_string(low) + " to " + std::to_string(high)};
  }
  return value;
}

// Set and cursor modes: level-of-detail batches, as a host would fetch them.
uint64_t FetchBatches(QvVorlin* engine, IPointCloudQuery* query, Mode mode, uint64_t wanted,
                      uint64_t batch, const Visible& visible, uint64_t visiblePoints, bool clipped,
                      PointWriter& writer) {
  std::vector<CellPoint> buffer(static_cast<size_t>(batch));
  // A set whose shares all round to nothing delivers nothing: ask for a
  // larger set until something comes, keeping to the count wanted.
  uint64_t setSize = wanted;
  for (int attempt = 0; attempt < 40; ++attempt) {
    uint64_t delivered = 0, consumedTotal = 0;
    int round = 0;
    // A cursor call may deliver nothing while cells with small shares are
    // still saving up fractions of a record, and it never reaches cells whose
    // LOD value is 0. It has run dry once the weighted cells are used up, or
    // after as many empty calls as the smallest share needs to make a record.
    const uint64_t callSize = std::min<uint64_t>(batch, std::max<uint64_t>(wanted, 1));
    const double smallestShare =
        visible.smallestLod > 0.0 ? visible.smallestLod * double(callSize) / visible.lodSum : 1.0;
    const int emptyLimit =
        mode == Mode::kCursor ? int(std::min(200.0, std::ceil(1.0 / smallestShare)) + 1) : 1;
    const uint64_t reachable =
        mode == Mode::kCursor ? std::min<uint64_t>(wanted, visible.weightedPoints) : setSize;
    int emptyRounds = 0;
    Released<IPointSetData> set;
    Released<IPointCloudCursor> cursor;
    while (consumedTotal < reachable && delivered < wanted && StopSignal() == 0 && !writer.failed()) {
      // Cursor calls keep their full size so that small shares still make
      // progress; what goes beyond the request is not printed.
      unsigned int size = unsigned(mode == Mode::kCursor ? callSize
                                                         : std::min<uint64_t>(batch, setSize - consumedTotal));
      unsigned int consumed;
      if (mode == Mode::kSet) {
        consumed = round == 0 ? engine->createPointSet(query, buffer.data(), size, setSize, set.out())
                              : engine->getPointSetPoints(query, buffer.data(), size, set.get());
        if (!set.get()) break;
      } else {
        consumed = round == 0 ? engine->createCursor(query, buffer.data(), size, cursor.out())
                              : engine->getCursorPoints(query, buffer.data(), size, cursor.get());
        if (!cursor.get()) break;
      }
      ++round;
      if (consumed == 0) {
        if (++emptyRounds >= emptyLimit) break;
        continue;
      }
      emptyRounds = 0;
      size_t written = clipped ? CountWritten(buffer, consumed) : consumed;
      written = size_t(std::min<uint64_t>(written, wanted - delivered));
      writer.Write(buffer.data(), written);
      delivered += written;
      consumedTotal += consumed;
      if (mode == Mode::kCursor && written > 0) {
        fprintf(stderr, "refinement %d: %s\n", round, CountOf(written, "point").c_str());
      }
    }
    if (delivered > 0 || mode == Mode::kCursor || setSize >= visiblePoints || StopSignal() != 0) {
      return delivered;
    }
    setSize = std::min<uint64_t>(visiblePoints, setSize * 2);
  }
  return 0;
}

}  // namespace

int RunQuery(const Words& words) {
  const std::string command = "query";
  Args args(words, {{"box", true},
                    {"frustum", true},
                    {"near-clip", false},
                    {"far-clip", false},
                    {"clip", false},
                    {"whole-cells", false},
                    {"count", true},
                    {"mode", true},
                    {"batch", true},
                    {"block", true},
                    {"preload", true},
                    {"format", true},
                    {"out", true},
                    {"force", false}});
  if (args.helpRequested()) return PrintUsage(kQueryUsage);
  args.requirePositional(1, 1);
  const std::string path = args.positional()[0];

  std::vector<double> box, frustum;
  if (args.has("box") && args.has("frustum")) throw UsageError{"give --box or --frustum, not both"};
  if (args.has("box") && !ParseDoubleList(args.value("box"), 6, box)) {
    throw UsageError{"--box needs six numbers X0,Y0,Z0,X1,Y1,Z1"};
  }
  if (args.has("frustum") && !ParseDoubleList(args.value("frustum"), 24, frustum)) {
    throw UsageError{"--frustum needs 24 numbers (eight corners of x, y, z)"};
  }
  if ((args.has("near-clip") || args.has("far-clip")) && !args.has("frustum")) {
    throw UsageError{"--near-clip and --far-clip apply to --frustum only"};
  }
  if (args.has("clip") && args.has("whole-cells")) throw UsageError{"give --clip or --whole-cells, not both"};
  Mode mode = Mode::kPoints;
  std::string modeName = args.value("mode", "points");
  if (modeName == "set") {
    mode = Mode::kSet;
  } else if (modeName == "cursor") {
    mode = Mode::kCursor;
  } else if (modeName != "points") {
    throw UsageError{"--mode must be points, set or cursor"};
  }
  PointWriter::Format format = PointWriter::Format::kCsv;
  std::string formatName = args.value("format", "csv");
  if (formatName == "xyz") {
    format = PointWriter::Format::kXyz;
  } else if (formatName == "las" || formatName == "laz") {
    format = formatName == "las" ? PointWriter::Format::kLas : PointWriter::Format::kLaz;
    if (!args.has("out")) throw UsageError{"--format " + formatName + " needs --out FILE." + formatName};
    if (!EndsWithNoCase(args.value("out"), "." + formatName)) {
      throw UsageError{"--format " + formatName + " writes a ." + formatName + " file; " +
                       Quote(args.value("out")) + " does not end in ." + formatName};
    }
  } else if (formatName != "csv") {
    throw UsageError{"--format must be csv, xyz, las or laz"};
  }
  if (args.has("count") && args.value("count") == "0") {
    throw UsageError{"--count 0 would deliver nothing; give at least 1, or leave --count out for every visible point"};
  }
  const bool countGiven = args.has("count");
  const uint64_t requested = ParseCountOption(args, "count", 0, 1, UINT64_MAX);
  const uint64_t batch = ParseCountOption(args, "batch", 65536, 1, 1u << 24);
  const uint64_t block = ParseCountOption(args, "block", 1u << 18, 1, 1u << 28);
  const int preload = int(ParseCountOption(args, "preload", 0, 0, INT_MAX));
  const bool clip = !args.has("whole-cells");
  const std::string outName = args.value("out");

  Engine engine;
  QzvSummary summary;
  if (!engine.Open(command, path, preload, summary)) return kExitFailure;
  std::string outTarget;
  if (args.has("out")) {
    std::string problem = OutputProblem(outName, args.has("force"), outTarget);
    if (problem.empty() && SameFile(outTarget, path)) problem = "it is the input file";
    if (!problem.empty()) {
      PrintError(command, "cannot write " + Quote(outName) + ": " + problem);
      return kExitFailure;
    }
  }
  double centre[3];
  engine->getCentre(centre[0], centre[1], centre[2]);

  FilterOwner filter;
  if (!box.empty()) {
    filter.filter = createBoxFilter(&box[0], &box[3], centre);
    if (!filter.filter) {
      PrintError(command, "cannot make a filter for that box");
      return kExitFailure;
    }
  } else if (!frustum.empty()) {
    VorlinViewFrustum view;
    const double* c = frustum.data();
    view.setNearUpperRight(c[0], c[1], c[2]);
    view.setNearUpperLeft(c[3], c[4], c[5]);
    view.setNearLowerLeft(c[6], c[7], c[8]);
    view.setNearLowerRight(c[9], c[10], c[11]);
    view.setFarUpperRight(c[12], c[13], c[14]);
    view.setFarUpperLeft(c[15], c[16], c[17]);
    view.setFarLowerLeft(c[18], c[19], c[20]);
    view.setFarLowerRight(c[21], c[22], c[23]);
    view.setNearClip(args.has("near-clip"));
    view.setFarClip(args.has("far-clip"));
    if (FrustumLooksInsideOut(frustum)) {
      PrintError(command, "warning: the frustum corners seem named for a right-handed frame; "
                          "swap left and right to see anything");
    }
    filter.filter = engine->createViewFrustumFilter(view);
    if (!filter.filter) {
      PrintError(command, "out of memory");
      return kExitFailure;
    }
  }

  Released<IPointCloudQuery> query(engine->createQuery(filter.filter, clip));
  if (!query.get()) {
    PrintError(command, "out of memory");
    return kExitFailure;
  }
  unsigned long long visiblePoints = 0, totalPoints = 0;
  engine->getQueryCounts(query.get(), visiblePoints, totalPoints);
  std::vector<bool> cellVisible;
  const Visible visible = CountVisibleCells(summary, filter.filter, cellVisible);
  const uint64_t wanted = countGiven ? std::min<uint64_t>(requested, visiblePoints) : visiblePoints;

  double halfExtent = 0.0;
  for (int a = 0; a < 3; ++a) {
    halfExtent = std::max(halfExtent, std::fabs(summary.maximum[a] - summary.centre[a]));
    halfExtent = std::max(halfExtent, std::fabs(summary.minimum[a] - summary.centre[a]));
  }
  PointWriter writer(format, centre, CoordinateDecimals(halfExtent));
  std::string error;
  if (!writer.Open(outTarget, error)) {
    PrintError(command, "cannot write " + Quote(outName) + ": " + error);
    return kExitFailure;
  }
  const bool clipped = clip && filter.filter;
  uint64_t delivered = 0;
  bool readFailed = false;
  CooperativeStop stopper;

  if (mode == Mode::kPoints) {
    ExportRequest request;
    request.filter = filter.filter;
    request.clip = clipped;
    request.wanted = wanted;
    request.blockPoints = block;
    ExportResult result = ExportPoints(engine.get(), summary, cellVisible, request, writer);
    delivered = result.delivered;
    readFailed = result.readFailed;
  } else {
    delivered = FetchBatches(engine.get(), query.get(), mode, wanted, batch, visible, visiblePoints, clipped, writer);
  }

  if (StopSignal() != 0) {
    // Whatever was written is abandoned with the writer.
    if (StopSignal() != SIGPIPE) PrintError(command, "stopped; nothing was kept");
    return StopExitCode();
  }
  if (!writer.Close(error)) {
    PrintError(command, "writing " + (args.has("out") ? Quote(outName) : "the points") + " failed: " + error);
    return kExitFailure;
  }
  fprintf(stderr, "visible cells: %s of %s non-empty; visible points: %s of %s; delivered: %s\n",
          GroupThousands(visible.cells).c_str(), GroupThousands(summary.nonEmptyCells).c_str(),
          GroupThousands(visiblePoints).c_str(), GroupThousands(totalPoints).c_str(),
          GroupThousands(delivered).c_str());
  if (mode != Mode::kPoints && delivered < wanted) {
    fprintf(stderr, "note: delivered %s of %s %s; %s mode gives level-of-detail batches, not an "
                    "export: use --mode points for every point\n",
            GroupThousands(delivered).c_str(), GroupThousands(wanted).c_str(),
            countGiven ? "wanted" : "visible", modeName.c_str());
  } else if (mode == Mode::kPoints && clipped && countGiven && delivered < wanted) {
    fprintf(stderr, "note: only %s inside\n", CountOf(delivered, "point").c_str());
  }
  if (readFailed) {
    PrintError(command, Quote(path) + ": reading point records failed (damaged file?)");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
