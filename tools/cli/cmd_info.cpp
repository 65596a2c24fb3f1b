#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "args.h"
#include "cli_common.h"
#include "commands.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kInfoUsage[] =
    "usage: vorlin info [--json] FILE\n"
    "\n"
    "Describes a QZV file: version, points, extents, centre, grid and cell size,\n"
    "units factor, attributes, non-empty cells, LOD values and file size.\n"
    "On a .las or .laz file: version, point format, record length, announced and\n"
    "present points, bounds, scale and offset, compression, georeferencing and the\n"
    "points of each classification (read once through the whole file).\n"
    "\n"
    "  --json  one JSON object instead of text\n";

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

std::string JsonNumber(double value) {
  if (!isfinite(value)) return "null";
  // The shortest text that reads back as the same double.
  char text[40];
  std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}


namespace {

struct Facts {
  std::string path;
  unsigned int version = 0, revision = 0;
  unsigned long long points = 0;
  double minimum[3] = {0, 0, 0}, maximum[3] = {0, 0, 0}, centre[3] = {0, 0, 0};
  double units = 0.0;
  std::vector<std::string> attributes;
  double lodMin = 0, lodMedian = 0, lodMax = 0;
};

std::string Triple(const double v[3], bool json) {
  if (json) return "[" + JsonNumber(v[0]) + ", " + JsonNumber(v[1]) + ", " + JsonNumber(v[2]) + "]";
  char text[128];
  snprintf(text, sizeof text, "(%.3f, %.3f, %.3f)", v[0], v[1], v[2]);
  return text;
}

void LodStatistics(const QzvSummary& summary, Facts& facts) {
  std::vector<float> values;
  values.reserve(size_t(summary.nonEmptyCells));
  for (size_t k = 0; k < summary.counts.size(); ++k) {
    if (summary.counts[k] > 0) values.push_back(summary.lodValues[k]);
  }
  if (values.empty()) return;
  std::sort(values.begin(), values.end(), [](float a, float b) { return a < b; });
  size_t middle = values.size() / 2;
  facts.lodMin = values.front();
  facts.lodMax = values.back();
  facts.lodMedian = values.size() % 2 ? values[middle]
                                      : (double(values[middle - 1]) + values[middle]) / 2.0;
}

void PrintText(const Facts& f, const QzvSummary& s) {
  std::string attributes;
  for (const std::string& name : f.attributes) attributes += (attributes.empty() ? "" : ", ") + name;
  printf("file:            %s\n", f.path.c_str());
  printf("version:         %u (revision %u)\n", f.version, f.revision);
  printf("points:          %s\n", GroupThousands(f.points).c_str());
  printf("extents:         min %s\n", Triple(f.minimum, false).c_str());
  printf("                 max %s\n", Triple(f.maximum, false).c_str());
  printf("centre:          %s\n", Triple(f.centre, false).c_str());
  if (s.version == 5) {
    printf("grid:            %d x %d x %d cells (edges per axis)\n", s.cells[0], s.cells[1],
           s.cells[2]);
  } else {
    printf("grid:            %d x %d x %d cells of size %.6g\n", s.cells[0], s.cells[1],
           s.cells[2], s.cellSize);
  }
  printf("units factor:    %.12g%s\n", f.units, f.units == 0.0 ? " (not stated)" : " (to feet)");
  printf("attributes:      %s\n", attributes.empty() ? "none" : attributes.c_str());
  printf("non-empty cells: %s of %s\n", GroupThousands(s.nonEmptyCells).c_str(),
         GroupThousands(s.cellCount()).c_str());
  if (s.nonEmptyCells > 0) {
    printf("LOD value:       min %.6g, median %.6g, max %.6g\n", f.lodMin, f.lodMedian, f.lodMax);
  } else {
    printf("LOD value:       none (no points)\n");
  }
  printf("file size:       %s (%s bytes)\n", FormatBytes(uint64_t(s.fileSize)).c_str(),
         GroupThousands(uint64_t(s.fileSize)).c_str());
}

void PrintJson(const Facts& f, const QzvSummary& s) {
  std::string attributes;
  for (const std::string& name : f.attributes) {
    attributes += (attributes.empty() ? "" : ", ") + JsonString(name);
  }
  printf("{\n");
  printf("  \"file\": %s,\n", JsonString(f.path).c_str());
  printf("  \"version\": %u,\n  \"revision\": %u,\n", f.version, f.revision);
  printf("  \"points\": %llu,\n", f.points);
  printf("  \"extents\": {\"min\": %s, \"max\": %s},\n", Triple(f.minimum, true).c_str(),
         Triple(f.maximum, true).c_str());
  printf("  \"centre\": %s,\n", Triple(f.centre, true).c_str());
  printf("  \"grid\": [%d, %d, %d],\n", s.cells[0], s.cells[1], s.cells[2]);
  printf("  \"cell_size\": %s,\n", s.version == 5 ? "null" : JsonNumber(s.cellSize).c_str());
  printf("  \"units_factor\": %s,\n", JsonNumber(f.units).c_str());
  printf("  \"attributes\": [%s],\n", attributes.c_str());
  printf("  \"cells\": %llu,\n", static_cast<unsigned long long>(s.cellCount()));
  printf("  \"non_empty_cells\": %llu,\n", static_cast<unsigned long long>(s.nonEmptyCells));
  if (s.nonEmptyCells > 0) {
    printf("  \"lod\": {\"min\": %s, \"median\": %s, \"max\": %s},\n", JsonNumber(f.lodMin).c_str(),
           JsonNumber(f.lodMedian).c_str(), JsonNumber(f.lodMax).c_str());
  } else {
    printf("  \"lod\": null,\n");
  }
  printf("  \"file_size\": %lld\n", static_cast<long long>(s.fileSize));
  printf("}\n");
}

}  // namespace

int RunInfo(const Words& words) {
  Args args(words, {{"json", false}});
  if (args.helpRequested()) return PrintUsage(kInfoUsage);
  args.requirePositional(1, 1);
  Facts facts;
  facts.path = args.positional()[0];
  if (EndsWithNoCase(facts.path, ".las") || EndsWithNoCase(facts.path, ".laz")) {
    return DescribeLasSource(facts.path, args.has("json"));
  }

  Engine engine;
  QzvSummary summary;
  if (!engine.Open("info", facts.path, 0, summary)) return kExitFailure;
  engine->getVersion(facts.version, facts.revision);
  facts.points = engine->totalPointCount();
  engine->getExtents(facts.minimum[0], facts.minimum[1], facts.minimum[2], facts.maximum[0],
                     facts.maximum[1], facts.maximum[2]);
  // false also means a centre of exactly (0, 0, 0), which is still valid.
  engine->getCentre(facts.centre[0], facts.centre[1], facts.centre[2]);
  facts.units = engine->unitsToFeetFactor();
  for (const wchar_t* name : {L"RGB", L"Intensity", L"Normal", L"NormalGenerated", L"CustomAttribute"}) {
    bool present = false;
    if (engine->hasAttribute(name, present) && present) facts.attributes.push_back(Narrow(name));
  }
  if (summary.attributeFlags & 0x20) facts.attributes.push_back("AttributeBlock");
  LodStatistics(summary, facts);

  if (args.has("json")) {
    PrintJson(facts, summary);
  } else {
    PrintText(facts, summary);
  }
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
