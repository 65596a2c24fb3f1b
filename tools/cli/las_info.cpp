#include <stdio.h>

#include <string>
#include <vector>

#include "cli_common.h"
#include "source_probe.h"
#include "vorlin/las_source.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

namespace {

const char* ItemName(uint16_t type) {
  switch (type) {
    case 0: return "byte";
    case 6: return "point10";
    case 7: return "gpstime11";
    case 8: return "rgb12";
    case 9: return "wavepacket13";
    case 10: return "point14";
    case 11: return "rgb14";
    case 12: return "rgbnir14";
    case 13: return "wavepacket14";
    case 14: return "byte14";
    default: return "unknown";
  }
}

// "point10 v2, gpstime11 v2" from the compression record's item list.
std::vector<std::string> CompressedItems(const LasSourceInfo& info) {
  std::vector<std::string> items;
  for (const LasVlr& vlr : info.vlrs) {
    if (vlr.userId != "laszip encoded" || vlr.recordId != 22204 || vlr.data.size() < 34) continue;
    const uint8_t* d = vlr.data.data();
    const size_t count = size_t(d[32] | d[33] << 8);
    for (size_t i = 0; i < count && 34 + 6 * i + 6 <= vlr.data.size(); ++i) {
      const uint8_t* item = d + 34 + 6 * i;
      items.push_back(std::string(ItemName(uint16_t(item[0] | item[1] << 8))) + " v" +
                      std::to_string(item[4] | item[5] << 8));
    }
  }
  return items;
}

std::string CompressionText(const LasSourceInfo& info) {
  switch (info.compression) {
    case LasCompression::None: return "none";
    case LasCompression::Pointwise: return "LAZ, point-wise";
    case LasCompression::PointwiseChunked: return "LAZ, chunked";
    case LasCompression::LayeredChunked: return "LAZ, layered chunked";
  }
  return "unknown";
}

std::string Triple(const double v[3], bool json, const char* format = "%.3f") {
  // + 0.0 prints a negative zero offset as 0.
  if (json) return "[" + JsonNumber(v[0] + 0.0) + ", " + JsonNumber(v[1] + 0.0) + ", " + JsonNumber(v[2] + 0.0) + "]";
  std::string out = "(";
  for (int i = 0; i < 3; ++i) {
    char text[64];
    snprintf(text, sizeof text, format, v[i]);
    out += (i ? ", " : "") + std::string(text);
  }
  return out + ")";
}

}  // namespace

int DescribeLasSource(const std::string& path, bool json) {
  const std::string command = "info";
  std::string problem = InputProblem(path);
  if (!problem.empty()) {
    PrintError(command, Quote(path) + ": " + problem);
    return kExitFailure;
  }
  SourceReader reader;
  if (!reader.Open(Widen(path).c_str())) {
    PrintError(command, Quote(path) + ": " + reader.lastError());
    return kExitFailure;
  }
  const LasSourceInfo& info = reader.info();
  // Formats 6-10 keep the whole classification byte; older ones its low five bits.
  const bool extended = info.pointFormat >= 6;
  const size_t classAt = extended ? 16 : 15;
  std::vector<uint64_t> classes(256, 0);
  std::vector<uint8_t> record(info.recordLength);
  if (!reader.RewindRecords()) {
    PrintError(command, Quote(path) + ": cannot read its point records");
    return kExitFailure;
  }
  while (reader.NextRecord(record.data())) {
    ++classes[extended ? record[classAt] : record[classAt] & 31];
  }
  if (reader.failed()) {
    PrintError(command, Quote(path) + ": " + StatusText(ReadFailed) + " (" + reader.lastError() + ")");
    return kExitFailure;
  }
  const std::vector<std::string> items = CompressedItems(info);
  const bool chunked = info.compression == LasCompression::PointwiseChunked ||
                       info.compression == LasCompression::LayeredChunked;
  const int64_t size = FileSize(path);

  if (json) {
    std::string itemList, classList;
    for (const std::string& item : items) itemList += (itemList.empty() ? "" : ", ") + JsonString(item);
    for (size_t c = 0; c < classes.size(); ++c) {
      if (!classes[c]) continue;
      classList += (classList.empty() ? "" : ", ") + JsonString(std::to_string(c)) + ": " +
                   std::to_string(classes[c]);
    }
    printf("{\n");
    printf("  \"file\": %s,\n", JsonString(path).c_str());
    printf("  \"version\": \"%d.%d\",\n", info.versionMajor, info.versionMinor);
    printf("  \"point_format\": %d,\n  \"record_length\": %u,\n", info.pointFormat, info.recordLength);
    printf("  \"announced_points\": %llu,\n  \"present_points\": %llu,\n  \"truncated\": %s,\n",
           (unsigned long long)info.announcedCount, (unsigned long long)info.presentCount,
           info.truncated ? "true" : "false");
    printf("  \"bounds\": {\"min\": %s, \"max\": %s},\n", Triple(info.min, true).c_str(),
           Triple(info.max, true).c_str());
    printf("  \"scale\": %s,\n  \"offset\": %s,\n", Triple(info.scale, true).c_str(),
           Triple(info.offset, true).c_str());
    printf("  \"compression\": ");
    if (info.compression == LasCompression::None) {
      printf("null,\n");
    } else {
      printf("{\"compressor\": %d, \"chunk_size\": %s, \"items\": [%s]},\n", int(info.compression),
             !chunked ? "null" : info.chunkSize == 0xFFFFFFFFu ? "\"variable\""
                                                            : std::to_string(info.chunkSize).c_str(),
             itemList.c_str());
    }
    printf("  \"georeferencing\": ");
    if (info.georeferencingKind.empty()) {
      printf("null,\n");
    } else {
      printf("{\"kind\": %s, \"text\": %s},\n", JsonString(info.georeferencingKind).c_str(),
             JsonString(info.georeferencing).c_str());
    }
    printf("  \"classifications\": {%s},\n", classList.c_str());
    printf("  \"file_size\": %lld\n}\n", (long long)size);
    return kExitOk;
  }
  printf("file:            %s\n", path.c_str());
  printf("version:         LAS %d.%d\n", info.versionMajor, info.versionMinor);
  printf("point format:    %d (%u bytes a record)\n", info.pointFormat, info.recordLength);
  if (info.truncated) {
    printf("points:          %s of %s announced (the file ends early)\n",
           GroupThousands(info.presentCount).c_str(), GroupThousands(info.announcedCount).c_str());
  } else {
    printf("points:          %s\n", GroupThousands(info.announcedCount).c_str());
  }
  printf("bounds:          min %s\n", Triple(info.min, false).c_str());
  printf("                 max %s\n", Triple(info.max, false).c_str());
  printf("scale:           %s\n", Triple(info.scale, false, "%.9g").c_str());
  printf("offset:          %s\n", Triple(info.offset, false, "%.9g").c_str());
  std::string compression = CompressionText(info);
  if (chunked) {
    compression += info.chunkSize == 0xFFFFFFFFu ? ", chunks of varying size"
                                                 : ", " + GroupThousands(info.chunkSize) + " points a chunk";
  }
  printf("compression:     %s\n", compression.c_str());
  if (!items.empty()) {
    std::string list;
    for (const std::string& item : items) list += (list.empty() ? "" : ", ") + item;
    printf("items:           %s\n", list.c_str());
  }
  if (info.georeferencingKind.empty()) {
    printf("georeferencing:  none\n");
  } else {
    std::string first = info.georeferencing.substr(0, info.georeferencing.find('\n'));
    if (first.size() > 60) first = first.substr(0, 57) + "...";
    printf("georeferencing:  %s: %s\n", info.georeferencingKind.c_str(), first.c_str());
  }
  printf("classes:         ");
  bool any = false;
  for (size_t c = 0; c < classes.size(); ++c) {
    if (!classes[c]) continue;
    printf("%s%zu: %s", any ? ", " : "", c, GroupThousands(classes[c]).c_str());
    any = true;
  }
  printf("%s\n", any ? "" : "none (no points)");
  printf("file size:       %s (%s bytes)\n", FormatBytes(uint64_t(size)).c_str(),
         GroupThousands(uint64_t(size)).c_str());
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
