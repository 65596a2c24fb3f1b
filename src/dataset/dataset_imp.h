#ifndef VORLIN_DATASET_DATASET_IMP_H
#define VORLIN_DATASET_DATASET_IMP_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "dataset/catalog.h"
#include "vorlin/dataset.h"

namespace vorlin {
namespace dataset {

class DatasetImp;

// A query over the tiles its filter does not reject; counts are per tile.
class DatasetQuery final : public Zelvane::Vorlin::IPointCloudQuery {
 public:
  void release() override;

  DatasetImp* owner = nullptr;
  Zelvane::Vorlin::IPointCloudFilter* filter = nullptr;  // owned clone; null: everything
  Zelvane::Vorlin::IPointCloudFilter* clipFilter = nullptr;  // owned clone
  bool clip = false;
  std::vector<size_t> tiles;
  std::vector<uint64_t> visible;

 private:
  friend class DatasetImp;
  ~DatasetQuery();
};

// One tile's engine while it is open.
struct OpenTile {
  Zelvane::Vorlin::QvVorlin* engine = nullptr;
  double shift[3] = {0, 0, 0};  // tile centre minus dataset centre
  int pins = 0;                 // live batch handles; never closed while pinned
  uint64_t lastUse = 0;
};

class DatasetImp final : public Zelvane::Vorlin::VorlinDataset {
 public:
  explicit DatasetImp(unsigned maxOpenTiles);
  ~DatasetImp() override;

  bool open(const wchar_t* fileName, int preloadBudget) override;
  void close() override;
  bool isOpen() override { return m_open; }
  double unitsToFeetFactor() override { return 0.0; }
  const wchar_t* getFileName() override { return m_open ? m_path.c_str() : nullptr; }
  bool getVersion(unsigned int& version, unsigned int& revision) override;
  bool getCentre(double& x, double& y, double& z) override;
  bool getExtents(double& minX, double& minY, double& minZ, double& maxX, double& maxY,
                  double& maxZ) override;
  Zelvane::Vorlin::IPointCloudFilter* createViewFrustumFilter(
      const Zelvane::Vorlin::VorlinViewFrustum& frustum) override;
  Zelvane::Vorlin::IPointCloudQuery* createQuery(Zelvane::Vorlin::IPointCloudFilter* filter,
                                                 bool clip) override;
  bool setClipFilter(Zelvane::Vorlin::IPointCloudFilter* filter) override;
  Zelvane::Vorlin::IPointCloudFilter* getClipFilter() override { return m_clipFilter; }
  bool getQueryCounts(Zelvane::Vorlin::IPointCloudQuery* query, unsigned long long& first,
                      unsigned long long& second) override;
  unsigned long long totalPointCount() override { return m_open ? m_catalog.points : 0; }
  unsigned int getPoints(Zelvane::Vorlin::IPointCloudQuery* query,
                         Zelvane::Vorlin::CellPoint* buffer, unsigned int bufferSize) override;
  unsigned int createPointSet(Zelvane::Vorlin::IPointCloudQuery* query,
                              Zelvane::Vorlin::CellPoint* buffer, unsigned int bufferSize,
                              unsigned long long pointCount,
                              Zelvane::Vorlin::IPointSetData** set) override;
  unsigned int getPointSetPoints(Zelvane::Vorlin::IPointCloudQuery* query,
                                 Zelvane::Vorlin::CellPoint* buffer, unsigned int bufferSize,
                                 Zelvane::Vorlin::IPointSetData* set) override;
  unsigned int createCursor(Zelvane::Vorlin::IPointCloudQuery* query,
                            Zelvane::Vorlin::CellPoint* buffer, unsigned int bufferSize,
                            Zelvane::Vorlin::IPointCloudCursor** cursor) override;
  unsigned int getCursorPoints(Zelvane::Vorlin::IPointCloudQuery* query,
                               Zelvane::Vorlin::CellPoint* buffer, unsigned int bufferSize,
                               Zelvane::Vorlin::IPointCloudCursor* cursor) override;
  bool hasAttribute(const wchar_t* name, bool& present) override;
  bool saveAsVersion(const wchar_t*, unsigned int) override { return false; }

  unsigned int tileCount() override;
  bool tileInfo(unsigned int index, const char** name, const char** file,
                unsigned long long& points) override;
  unsigned int failedTileCount() override;
  bool failedTile(unsigned int index, const char** name, const char** reason) override;
  const char* catalogError() override { return m_catalogError.c_str(); }
  unsigned int openTileCount() override;

  // For the batch handles (dataset_batches.cpp).
  // The open tile, opening it (and closing the least recently used unpinned
  // ones beyond the bound) when needed; null when it cannot be used, after
  // listing it as failed.
  OpenTile* Acquire(size_t tile);
  // A query of the open tile for q's filters; null on failure.
  Zelvane::Vorlin::IPointCloudQuery* TileQuery(const DatasetQuery& q, OpenTile& tile);
  void Unpin(size_t tile);
  unsigned maxOpenTiles() const { return m_maxOpen; }
  static void ShiftRecords(Zelvane::Vorlin::CellPoint* records, size_t count,
                           const double shift[3]);

 private:
  DatasetQuery* Own(Zelvane::Vorlin::IPointCloudQuery* query);
  void MarkFailed(size_t tile, const std::string& reason);
  void CloseTile(std::map<size_t, OpenTile>::iterator it);
  void TrimToBound(size_t room);

  unsigned m_maxOpen;
  bool m_open = false;
  std::wstring m_path;
  Catalog m_catalog;
  std::string m_catalogError;
  double m_centre[3] = {0, 0, 0};
  int m_tilePreload = 0;
  std::vector<bool> m_failed;
  std::vector<std::pair<std::string, std::string>> m_failures;
  std::map<size_t, OpenTile> m_openTiles;
  uint64_t m_clock = 0;
  Zelvane::Vorlin::IPointCloudFilter* m_clipFilter = nullptr;
};

}  // namespace dataset
}  // namespace vorlin

#endif
