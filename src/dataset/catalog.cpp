#include "catalog.h"

#include <math.h>

#include <algorithm>
#include <numeric>

#include "json_value.h"
#include "platform/file.h"
#include "platform/wide_string.h"
#include "vorlin/status.h"

using namespace Zelvane::Vorlin;

namespace vorlin {
namespace dataset {

namespace {

bool WholeNumber(const JsonValue* v, uint64_t& out) {
  if (!v || v->kind != JsonValue::kNumber || v->number < 0 || v->number > 9.0e15 ||
      floor(v->number) != v->number) {
    return false;
  }
  out = uint64_t(v->number);
  return true;
}

bool Bounds(const JsonValue* v, double out[6]) {
  if (!v || v->kind != JsonValue::kArray || v->items.size() != 6) return false;
  for (size_t i = 0; i < 6; ++i) {
    if (v->items[i].kind != JsonValue::kNumber) return false;
    out[i] = v->items[i].number;
  }
  return out[0] <= out[3] && out[1] <= out[4] && out[2] <= out[5];
}

bool AttributeMask(const JsonValue* v, unsigned& mask) {
  static const struct { const char* name; unsigned bit; } kNames[] = {
      {"RGB", AttributeColor}, {"Intensity", AttributeIntensity}, {"Normal", AttributeNormal},
      {"CustomAttribute", AttributeCustom}, {"Block", AttributeBlock}};
  if (!v || v->kind != JsonValue::kArray) return false;
  mask = 0;
  for (const JsonValue& item : v->items) {
    if (item.kind != JsonValue::kString) return false;
    bool known = false;
    for (const auto& n : kNames) {
      if (item.text == n.name) { mask |= n.bit; known = true; }
    }
    if (!known) return false;
  }
  return true;
}

bool SafeRelative(const std::string& file) {
  if (file.empty() || file[0] == '/' || file[0] == '\\' || file.find(':') != std::string::npos) {
    return false;
  }
  size_t start = 0;
  while (start <= file.size()) {
    size_t end = file.find_first_of("/\\", start);
    if (end == std::string::npos) end = file.size();
    const std::string part = file.substr(start, end - start);
    if (part == ".." || part.empty()) return false;
    start = end + 1;
  }
  return file.find('\0') == std::string::npos;
}

void ReadTile(const JsonValue& v, size_t index, TileEntry& tile) {
  const JsonValue* name = v.Find("name");
  tile.name = name && name->kind == JsonValue::kString && !name->text.empty()
                  ? name->text
                  : "#" + std::to_string(index);
  if (v.kind != JsonValue::kObject) { tile.problem = "the entry is not an object"; return; }
  const JsonValue* file = v.Find("file");
  const JsonValue* geo = v.Find("georeferencing");
  // Read first: the totals are checked against every entry's count.
  const bool counted = WholeNumber(v.Find("points"), tile.points);
  if (!file || file->kind != JsonValue::kString || !SafeRelative(file->text)) {
    tile.problem = "no file name inside the catalog's folder";
  } else if (!counted || tile.points == 0) {
    tile.problem = "no point count";
  } else if (!Bounds(v.Find("bounds"), tile.bounds)) {
    tile.problem = "no bounds (six numbers, minimum before maximum)";
  } else if (!AttributeMask(v.Find("attributes"), tile.attributes)) {
    tile.problem = "bad attribute list";
  } else if (geo && geo->kind != JsonValue::kString && geo->kind != JsonValue::kNull) {
    tile.problem = "georeferencing is not text";
  }
  if (file && file->kind == JsonValue::kString) tile.file = file->text;
  if (geo && geo->kind == JsonValue::kString) tile.georeferencing = geo->text;
}

}  // namespace

bool ReadCatalogDocument(const JsonValue& doc, Catalog& out, std::string& error) {
  out = Catalog();
  const JsonValue* format = doc.Find("format");
  if (!format || format->kind != JsonValue::kString || format->text != "vorlin-dataset") {
    error = "not a dataset catalog (no \"format\": \"vorlin-dataset\")";
    return false;
  }
  uint64_t version = 0;
  if (!WholeNumber(doc.Find("version"), version) || version != kCatalogVersion) {
    error = "unsupported catalog version (this library reads version " +
            std::to_string(kCatalogVersion) + ")";
    return false;
  }
  out.version = int(version);
  const JsonValue* tiles = doc.Find("tiles");
  if (!tiles || tiles->kind != JsonValue::kArray) {
    error = "no tile list";
    return false;
  }
  out.tiles.resize(tiles->items.size());
  uint64_t listed = 0;
  for (size_t i = 0; i < out.tiles.size(); ++i) {
    ReadTile(tiles->items[i], i, out.tiles[i]);
    listed += out.tiles[i].points;
  }
  const JsonValue* totals = doc.Find("totals");
  uint64_t totalTiles = 0, totalPoints = 0;
  if (!totals || !WholeNumber(totals->Find("tiles"), totalTiles) ||
      !WholeNumber(totals->Find("points"), totalPoints)) {
    error = "no totals (tiles and points)";
    return false;
  }
  if (totalTiles != out.tiles.size() || totalPoints != listed) {
    error = "the totals disagree with the tile list (the catalog is damaged)";
    return false;
  }
  bool first = true;
  for (const TileEntry& t : out.tiles) {
    if (!t.problem.empty()) continue;
    out.points += t.points;
    out.attributes |= t.attributes;
    for (int a = 0; a < 3; ++a) {
      out.bounds[a] = first ? t.bounds[a] : std::min(out.bounds[a], t.bounds[a]);
      out.bounds[a + 3] = first ? t.bounds[a + 3] : std::max(out.bounds[a + 3], t.bounds[a + 3]);
    }
    first = false;
  }
  return true;
}

bool ReadCatalogFile(const std::wstring& path, Catalog& out, std::string& error) {
  platform::File file = platform::File::Open(path.c_str(), platform::kAccessRead,
                                             platform::kShareRead | platform::kShareWrite |
                                                 platform::kShareDelete,
                                             platform::Disposition::kOpenExisting);
  if (!file.IsValid()) {
    error = "cannot open the catalog";
    return false;
  }
  const int64_t size = file.Size();
  if (size < 0 || size > kMaxCatalogBytes) {
    error = "the catalog's size is unusable";
    return false;
  }
  std::string text(size_t(size), '\0');
  if (size > 0 && !file.ReadExact(&text[0], text.size())) {
    error = "cannot read the catalog";
    return false;
  }
  if (!file.Close()) {
    error = "cannot read the catalog";
    return false;
  }
  JsonValue doc;
  std::string parseError;
  if (!ParseJson(text, doc, parseError)) {
    error = "the catalog is not valid JSON: " + parseError;
    return false;
  }
  return ReadCatalogDocument(doc, out, error);
}

std::wstring TilePath(const std::wstring& catalogPath, const std::string& file) {
  if (!SafeRelative(file)) return std::wstring();
  const size_t slash = catalogPath.find_last_of(L"/\\");
  const std::wstring folder = slash == std::wstring::npos ? L"" : catalogPath.substr(0, slash + 1);
  return folder + platform::FromUtf8(file);
}

std::vector<uint64_t> SplitBudget(const std::vector<uint64_t>& weights, uint64_t budget) {
  std::vector<uint64_t> shares(weights.size(), 0);
  long double total = 0;
  for (uint64_t w : weights) total += static_cast<long double>(w);
  if (total <= 0 || budget == 0) return shares;
  if (static_cast<long double>(budget) >= total) return weights;
  std::vector<std::pair<long double, size_t>> fractions;
  uint64_t given = 0;
  for (size_t i = 0; i < weights.size(); ++i) {
    const long double exact = static_cast<long double>(budget) * weights[i] / total;
    shares[i] = std::min<uint64_t>(weights[i], static_cast<uint64_t>(exact));
    given += shares[i];
    if (shares[i] < weights[i]) fractions.emplace_back(exact - shares[i], i);
  }
  std::stable_sort(fractions.begin(), fractions.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  // Rounding down leaves less than one record per tile to hand out.
  for (size_t k = 0; given < budget && k < fractions.size(); ++k) {
    ++shares[fractions[k].second];
    ++given;
  }
  return shares;
}

}  // namespace dataset
}  // namespace vorlin
