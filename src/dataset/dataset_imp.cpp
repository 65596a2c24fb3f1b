#include "dataset/dataset_imp.h"

#include <math.h>

#include <algorithm>
#include <new>

#include "dataset/offset_filter.h"
#include "engine/view_frustum_filter.h"
#include "platform/wide_string.h"

using namespace Zelvane::Vorlin;

namespace Zelvane {
namespace Vorlin {

VorlinDataset* VorlinDataset::createDataset(unsigned int maxOpenTiles) {
  return new (std::nothrow) vorlin::dataset::DatasetImp(maxOpenTiles);
}

}  // namespace Vorlin
}  // namespace Zelvane

namespace vorlin {
namespace dataset {

namespace {

bool NearlyEqual(double a, double b) { return fabs(a - b) <= 1e-9 * std::max(1.0, fabs(a)); }

}  // namespace

DatasetQuery::~DatasetQuery() {
  if (filter) filter->release();
  if (clipFilter) clipFilter->release();
}

void DatasetQuery::release() { delete this; }

DatasetImp::DatasetImp(unsigned maxOpenTiles) : m_maxOpen(std::max(1u, maxOpenTiles)) {}

DatasetImp::~DatasetImp() {
  close();
  if (m_clipFilter) m_clipFilter->release();
}

bool DatasetImp::open(const wchar_t* fileName, int preloadBudget) {
  close();
  if (!fileName) {
    m_catalogError = "no catalog name";
    return false;
  }
  Catalog catalog;
  if (!ReadCatalogFile(fileName, catalog, m_catalogError)) return false;
  m_catalog = std::move(catalog);
  m_catalogError.clear();
  m_path = fileName;
  m_open = true;
  m_failed.assign(m_catalog.tiles.size(), false);
  for (size_t i = 0; i < m_catalog.tiles.size(); ++i) {
    if (!m_catalog.tiles[i].problem.empty()) MarkFailed(i, m_catalog.tiles[i].problem);
  }
  for (int a = 0; a < 3; ++a) m_centre[a] = 0.5 * (m_catalog.bounds[a] + m_catalog.bounds[a + 3]);
  m_tilePreload = preloadBudget > 0 ? std::max(1, preloadBudget / int(m_maxOpen)) : 0;
  return true;
}

void DatasetImp::close() {
  while (!m_openTiles.empty()) CloseTile(m_openTiles.begin());
  m_open = false;
  m_path.clear();
  m_catalog = Catalog();
  m_failed.clear();
  m_failures.clear();
}

bool DatasetImp::getVersion(unsigned int& version, unsigned int& revision) {
  if (!m_open) return false;
  version = unsigned(m_catalog.version);
  revision = 0;
  return true;
}

bool DatasetImp::getCentre(double& x, double& y, double& z) {
  if (!m_open) return false;
  x = m_centre[0];
  y = m_centre[1];
  z = m_centre[2];
  return !(x == 0.0) || !(y == 0.0) || !(z == 0.0);
}

bool DatasetImp::getExtents(double& minX, double& minY, double& minZ, double& maxX, double& maxY,
                            double& maxZ) {
  if (!m_open) return false;
  const double* b = m_catalog.bounds;
  minX = b[0], minY = b[1], minZ = b[2], maxX = b[3], maxY = b[4], maxZ = b[5];
  return true;
}

IPointCloudFilter* DatasetImp::createViewFrustumFilter(const VorlinViewFrustum& frustum) {
  return new (std::nothrow) ViewFrustumFilter(frustum, m_centre[0], m_centre[1], m_centre[2]);
}

bool DatasetImp::setClipFilter(IPointCloudFilter* filter) {
  IPointCloudFilter* copy = filter ? filter->clone() : nullptr;
  if (m_clipFilter) m_clipFilter->release();
  m_clipFilter = copy;
  return true;
}

DatasetQuery* DatasetImp::Own(IPointCloudQuery* query) {
  // Only this dataset makes DatasetQuery objects, and a foreign handle is
  // recognised by the owner field only after the cast; hosts pass back what
  // they got, as with an engine.
  DatasetQuery* q = static_cast<DatasetQuery*>(query);
  return q && q->owner == this && m_open ? q : nullptr;
}

IPointCloudQuery* DatasetImp::createQuery(IPointCloudFilter* filter, bool clip) {
  if (!m_open) return nullptr;
  DatasetQuery* q = new (std::nothrow) DatasetQuery();
  if (!q) return nullptr;
  q->owner = this;
  q->clip = clip;
  q->filter = filter ? filter->clone() : nullptr;
  q->clipFilter = m_clipFilter ? m_clipFilter->clone() : nullptr;
  if ((filter && !q->filter) || (m_clipFilter && !q->clipFilter)) {
    q->release();
    return nullptr;
  }
  for (size_t i = 0; i < m_catalog.tiles.size(); ++i) {
    if (m_failed[i]) continue;
    const TileEntry& t = m_catalog.tiles[i];
    const double* b = t.bounds;
    const int side = q->filter ? q->filter->classifyBox(b[0], b[1], b[2], b[3], b[4], b[5]) : 1;
    int clipSide = q->clipFilter ? q->clipFilter->classifyBox(b[0], b[1], b[2], b[3], b[4], b[5]) : 1;
    if (side < 0 || clipSide < 0) continue;
    uint64_t count = t.points;
    if (side == 0 || clipSide == 0) {
      // Only the tile's own cells tell how much of it a partial view sees.
      OpenTile* tile = Acquire(i);
      if (!tile) continue;
      IPointCloudQuery* tq = TileQuery(*q, *tile);
      unsigned long long first = 0, second = 0;
      if (tq) {
        tile->engine->getQueryCounts(tq, first, second);
        tq->release();
      }
      count = first;
    }
    if (count == 0) continue;
    q->tiles.push_back(i);
    q->visible.push_back(count);
  }
  return q;
}

bool DatasetImp::getQueryCounts(IPointCloudQuery* query, unsigned long long& first,
                                unsigned long long& second) {
  first = second = 0;
  DatasetQuery* q = Own(query);
  if (!q) return false;
  for (uint64_t v : q->visible) first += v;
  second = m_catalog.points;
  return first > 0;
}

void DatasetImp::ShiftRecords(CellPoint* records, size_t count, const double shift[3]) {
  if (shift[0] == 0 && shift[1] == 0 && shift[2] == 0) return;
  for (size_t i = 0; i < count; ++i) {
    records[i].x = float(double(records[i].x) + shift[0]);
    records[i].y = float(double(records[i].y) + shift[1]);
    records[i].z = float(double(records[i].z) + shift[2]);
  }
}

unsigned int DatasetImp::getPoints(IPointCloudQuery* query, CellPoint* buffer,
                                   unsigned int bufferSize) {
  DatasetQuery* q = Own(query);
  if (!q || !buffer || bufferSize == 0) return 0;
  const std::vector<uint64_t> shares = SplitBudget(q->visible, bufferSize);
  unsigned written = 0;
  for (size_t k = 0; k < q->tiles.size(); ++k) {
    if (shares[k] == 0) continue;
    OpenTile* tile = Acquire(q->tiles[k]);
    if (!tile) continue;
    IPointCloudQuery* tq = TileQuery(*q, *tile);
    if (!tq) continue;
    const unsigned got = tile->engine->getPoints(tq, buffer + written, unsigned(shares[k]));
    tq->release();
    ShiftRecords(buffer + written, got, tile->shift);
    written += got;
  }
  return written;
}

bool DatasetImp::hasAttribute(const wchar_t* name, bool& present) {
  static const struct { const wchar_t* name; unsigned bit; } kNames[] = {
      {L"RGB", AttributeColor}, {L"Intensity", AttributeIntensity}, {L"Normal", AttributeNormal},
      {L"NormalGenerated", 0}, {L"CustomAttribute", AttributeCustom}};
  present = false;
  if (!name) return false;
  for (const auto& n : kNames) {
    const size_t len = wcslen(n.name);
    if (wcslen(name) == len && platform::EqualsNoCase(name, n.name, len)) {
      present = (m_catalog.attributes & n.bit) != 0;
      return true;
    }
  }
  return false;
}

unsigned int DatasetImp::tileCount() { return unsigned(m_catalog.tiles.size()); }

bool DatasetImp::tileInfo(unsigned int index, const char** name, const char** file,
                          unsigned long long& points) {
  if (index >= m_catalog.tiles.size()) return false;
  const TileEntry& t = m_catalog.tiles[index];
  if (name) *name = t.name.c_str();
  if (file) *file = t.file.c_str();
  points = t.points;
  return true;
}

unsigned int DatasetImp::failedTileCount() { return unsigned(m_failures.size()); }

bool DatasetImp::failedTile(unsigned int index, const char** name, const char** reason) {
  if (index >= m_failures.size()) return false;
  if (name) *name = m_failures[index].first.c_str();
  if (reason) *reason = m_failures[index].second.c_str();
  return true;
}

unsigned int DatasetImp::openTileCount() { return unsigned(m_openTiles.size()); }

void DatasetImp::MarkFailed(size_t tile, const std::string& reason) {
  if (m_failed[tile]) return;
  m_failed[tile] = true;
  m_failures.emplace_back(m_catalog.tiles[tile].name, reason);
}

void DatasetImp::CloseTile(std::map<size_t, OpenTile>::iterator it) {
  QvVorlin::destroy(it->second.engine);
  m_openTiles.erase(it);
}

void DatasetImp::TrimToBound(size_t room) {
  while (m_openTiles.size() + room > m_maxOpen) {
    auto oldest = m_openTiles.end();
    for (auto it = m_openTiles.begin(); it != m_openTiles.end(); ++it) {
      if (it->second.pins == 0 &&
          (oldest == m_openTiles.end() || it->second.lastUse < oldest->second.lastUse)) {
        oldest = it;
      }
    }
    if (oldest == m_openTiles.end()) return;  // every open tile is held by a batch handle
    CloseTile(oldest);
  }
}

OpenTile* DatasetImp::Acquire(size_t index) {
  if (!m_open || index >= m_catalog.tiles.size() || m_failed[index]) return nullptr;
  auto found = m_openTiles.find(index);
  if (found != m_openTiles.end()) {
    found->second.lastUse = ++m_clock;
    return &found->second;
  }
  TrimToBound(1);
  const TileEntry& entry = m_catalog.tiles[index];
  const std::wstring path = TilePath(m_path, entry.file);
  QvVorlin* engine = QvVorlin::create();
  if (!engine) return nullptr;
  std::string problem;
  double b[6] = {0, 0, 0, 0, 0, 0};
  double c[3] = {0, 0, 0};
  if (!engine->open(path.c_str(), m_tilePreload)) {
    problem = engine->isOpen() ? "the tile's file is not a usable QZV file"
                               : "the tile's file cannot be opened (" + entry.file + ")";
  } else if (engine->totalPointCount() != entry.points) {
    problem = "the tile's file holds " + std::to_string(engine->totalPointCount()) +
              " points, the catalog says " + std::to_string(entry.points);
  } else {
    engine->getExtents(b[0], b[1], b[2], b[3], b[4], b[5]);
    engine->getCentre(c[0], c[1], c[2]);
    for (int i = 0; i < 6; ++i) {
      if (!NearlyEqual(b[i], entry.bounds[i])) problem = "the tile's bounds disagree with the catalog";
    }
  }
  if (!problem.empty()) {
    QvVorlin::destroy(engine);
    MarkFailed(index, problem);
    return nullptr;
  }
  OpenTile& tile = m_openTiles[index];
  tile.engine = engine;
  tile.lastUse = ++m_clock;
  for (int a = 0; a < 3; ++a) tile.shift[a] = c[a] - m_centre[a];
  return &tile;
}

void DatasetImp::Unpin(size_t index) {
  auto found = m_openTiles.find(index);
  if (found == m_openTiles.end()) return;
  if (found->second.pins > 0) --found->second.pins;
  TrimToBound(0);
}

IPointCloudQuery* DatasetImp::TileQuery(const DatasetQuery& q, OpenTile& tile) {
  OffsetFilter* clipWrap = nullptr;
  if (q.clipFilter) {
    clipWrap = OffsetFilter::Wrap(q.clipFilter->clone(), tile.shift);
    if (!clipWrap) return nullptr;
  }
  tile.engine->setClipFilter(clipWrap);
  if (clipWrap) clipWrap->release();
  OffsetFilter* wrap = nullptr;
  if (q.filter) {
    wrap = OffsetFilter::Wrap(q.filter->clone(), tile.shift);
    if (!wrap) return nullptr;
  }
  IPointCloudQuery* tq = tile.engine->createQuery(wrap, q.clip);
  if (wrap) wrap->release();
  return tq;
}

}  // namespace dataset
}  // namespace vorlin
