#ifndef VORLIN_DATASET_CATALOG_H
#define VORLIN_DATASET_CATALOG_H

#include <stdint.h>

#include <string>
#include <vector>

namespace vorlin {
namespace dataset {

constexpr int kCatalogVersion = 1;
// Larger catalogs are refused before reading (about a million tiles).
constexpr int64_t kMaxCatalogBytes = int64_t(1) << 30;

struct TileEntry {
  std::string name;  // shown to people; "#<index>" when the entry has none
  std::string file;  // relative to the catalog's folder, '/' separated
  uint64_t points = 0;
  double bounds[6] = {0, 0, 0, 0, 0, 0};  // min x, y, z, max x, y, z
  unsigned attributes = 0;                 // VorlinAttribute bits
  std::string georeferencing;              // WKT or empty when unknown
  std::string problem;                     // empty: usable
};

struct Catalog {
  int version = 0;
  std::vector<TileEntry> tiles;
  uint64_t points = 0;  // over the usable tiles
  double bounds[6] = {0, 0, 0, 0, 0, 0};
  unsigned attributes = 0;
};

// Checks a parsed document. A tile entry with a bad field stays in the list
// with its problem set; the catalog as a whole fails (false, error) only
// when its frame is wrong: format, version, tile list or totals.
struct JsonValue;
bool ReadCatalogDocument(const JsonValue& document, Catalog& out, std::string& error);

// Reads and checks the catalog file at path.
bool ReadCatalogFile(const std::wstring& path, Catalog& out, std::string& error);

// The tile's file joined to the catalog's folder; empty for a file name that
// is absolute or climbs out of the folder.
std::wstring TilePath(const std::wstring& catalogPath, const std::string& file);

// Splits budget over weights in proportion, each share at most its weight,
// the rounding remainder going to the largest fractions first. The shares
// sum to min(budget, sum of weights).
std::vector<uint64_t> SplitBudget(const std::vector<uint64_t>& weights, uint64_t budget);

}  // namespace dataset
}  // namespace vorlin

#endif
