#ifndef VORLIN_ENGINE_QV_VORLIN_IMP_H
#define VORLIN_ENGINE_QV_VORLIN_IMP_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "engine/cell_loader.h"
#include "format/qzv_grid.h"
#include "platform/file.h"
#include "platform/range_reader.h"
#include "vorlin/qv_vorlin.h"

class PointCloudQuery;

// The engine: one open QZV file, its cell table, the background loader and
// an optional clip filter.
class QvVorlinImp : public Zelvane::Vorlin::QvVorlin {
 public:
  using CellPoint = Zelvane::Vorlin::CellPoint;
  using IPointCloudFilter = Zelvane::Vorlin::IPointCloudFilter;
  using IPointCloudQuery = Zelvane::Vorlin::IPointCloudQuery;
  using IPointSetData = Zelvane::Vorlin::IPointSetData;
  using IPointCloudCursor = Zelvane::Vorlin::IPointCloudCursor;

  QvVorlinImp() = default;
  ~QvVorlinImp() override;
  QvVorlinImp(const QvVorlinImp&) = delete;
  QvVorlinImp& operator=(const QvVorlinImp&) = delete;

  bool open(const wchar_t* fileName, int preloadBudget) override;
  void close() override;
  bool isOpen() override;
  double unitsToFeetFactor() override;
  const wchar_t* getFileName() override;
  bool getVersion(unsigned int& version, unsigned int& revision) override;
  bool getCentre(double& x, double& y, double& z) override;
  bool getExtents(double& minX, double& minY, double& minZ, double& maxX, double& maxY,
                  double& maxZ) override;
  IPointCloudFilter* createViewFrustumFilter(
      const Zelvane::Vorlin::VorlinViewFrustum& frustum) override;
  IPointCloudQuery* createQuery(IPointCloudFilter* filter, bool clip) override;
  bool setClipFilter(IPointCloudFilter* filter) override;
  IPointCloudFilter* getClipFilter() override;
  bool getQueryCounts(IPointCloudQuery* query, unsigned long long& first,
                      unsigned long long& second) override;
  unsigned long long totalPointCount() override;
  unsigned int getPoints(IPointCloudQuery* query, CellPoint* buffer,
                         unsigned int bufferSize) override;
  unsigned int createPointSet(IPointCloudQuery* query, CellPoint* buffer, unsigned int bufferSize,
                              unsigned long long pointCount, IPointSetData** set) override;
  unsigned int getPointSetPoints(IPointCloudQuery* query, CellPoint* buffer,
                                 unsigned int bufferSize, IPointSetData* set) override;
  unsigned int createCursor(IPointCloudQuery* query, CellPoint* buffer, unsigned int bufferSize,
                            IPointCloudCursor** cursor) override;
  unsigned int getCursorPoints(IPointCloudQuery* query, CellPoint* buffer,
                               unsigned int bufferSize, IPointCloudCursor* cursor) override;
  bool hasAttribute(const wchar_t* name, bool& present) override;
  // Defined with the version-3 writer (save_as_version.cpp).
  bool saveAsVersion(const wchar_t* fileName, unsigned int version) override;

  // For tests: true once the loader has walked every cell (or is off).
  bool IsPreloadFinished() const { return !m_loader.IsActive() || m_loader.IsFinished(); }
  CellLoader& LoaderForTesting() { return m_loader; }
  vorlin::platform::RangeReader& ReaderForTesting() { return m_reader; }

 private:
  // Box of a cell in world coordinates: {minX, minY, minZ, maxX, maxY, maxZ}.
  void CellBox(int32_t ix, int32_t iy, int32_t iz, double box[6]) const;
  int32_t CellIndex(int32_t ix, int32_t iy, int32_t iz) const {
    return (iz * m_grid.ny + iy) * m_grid.nx + ix;
  }
  // The query, when it is one of ours and fits the open grid; else null.
  PointCloudQuery* QueryForOpenGrid(IPointCloudQuery* query) const;
  uint32_t RecordSize() const;
  // Reads records [first, first + count) of a cell from the file, widening
  // version-3 records. Caller holds the loader's lock.
  bool ReadRecords(const QzvCell& cell, uint32_t first, uint32_t count, CellPoint* out);
  // Reads count records of a partly covered cell from record first into
  // clipBuffer, tests each against the query's filter and the clip filter and
  // appends the accepted ones to out. addCentre: the clip filter sees world
  // coordinates (getPoints) rather than the stored offsets (batch calls).
  // Fills buffer[written, consumed) with records whose x, y and z are NaN:
  // the batch calls return what they consumed, and this tells a caller which
  // records the filters rejected.
  static void MarkRejected(CellPoint* buffer, uint32_t written, uint32_t consumed);
  // Room for the largest share a clipped fetch of up to limit records can
  // read from one cell; empty when the fetch is not clipped.
  static std::vector<CellPoint> ClipBufferFor(bool clip, double largestLod, double ratio,
                                              uint64_t limit);
  bool DeliverClipped(PointCloudQuery& query, int32_t ix, int32_t iy, int32_t iz,
                      uint32_t first, uint32_t count, bool addCentre,
                      std::vector<CellPoint>& clipBuffer, CellPoint* out, uint32_t& accepted);

  // What the version-3 writer and the queries share: the open file, its
  // header values and the cell table. File reads hold m_loader's lock
  // (CellLoaderLock) because the loader thread reads the same handle; the
  // loader and the queries read at absolute offsets and never move the file
  // position, so a sequential reader holding the lock keeps its place.
  vorlin::platform::File m_file;
  // Record reads of the queries (not of the loader thread, which reads
  // m_file itself); used under the same lock.
  vorlin::platform::RangeReader m_reader;
  std::vector<double> m_upperEdges[3];
  std::unique_ptr<wchar_t[]> m_fileName;
  uint64_t m_fileId = 0;
  uint64_t m_totalPoints = 0;
  double m_unitsFactor = 0.0;
  int32_t m_version = 5;
  uint32_t m_revision = 0;
  vorlin::format::QzvGrid m_grid;  // from the last header read
  // Cell table in z-major order: cell (ix, iy, iz) is (iz * ny + iy) * nx + ix.
  QzvCellTable m_cells;
  int32_t m_cellsNx = 0, m_cellsNy = 0, m_cellsNz = 0;  // dimensions of m_cells
  CellLoader m_loader;
  uint32_t m_attributeFlags = 1;
  IPointCloudFilter* m_clipFilter = nullptr;
  // getPoints' sort keys and working space, one per visible cell; kept while
  // the file is open so that a grid of a million cells is not allocated and
  // paged in again on every call.
  vorlin::platform::LargeVector<uint64_t> m_planKeys, m_planScratch;
  // getPoints' file reads, one per cell not wholly preloaded, made in one
  // batch so that neighbours can share a read.
  std::vector<vorlin::platform::RangeReader::Range> m_ranges;
};

#endif
