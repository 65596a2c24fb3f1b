#include "engine/point_cloud_query.h"

#include <new>

#include "engine/qv_vorlin_imp.h"

PointCloudQuery::PointCloudQuery(int32_t x, int32_t y, int32_t z) : nx(x), ny(y), nz(z) {
  cellStates.Init(2 * x * y * z);
}

PointCloudQuery::~PointCloudQuery() {
  if (filter) filter->release();
}

void PointCloudQuery::release() { delete this; }

QvVorlinImp::IPointCloudQuery* QvVorlinImp::createQuery(IPointCloudFilter* filter, bool clip) {
  // Without a cell table the grid has no cells.
  const int32_t nx = !m_cells.empty() ? m_cellsNx : 0;
  const int32_t ny = !m_cells.empty() ? m_cellsNy : 0;
  const int32_t nz = !m_cells.empty() ? m_cellsNz : 0;
  PointCloudQuery* query = new (std::nothrow) PointCloudQuery(nx, ny, nz);
  if (!query) return nullptr;
  if (filter) {
    query->filter = filter->clone();
    query->clip = clip;
  }

  IPointCloudFilter* const queryFilter = query->filter;
  IPointCloudFilter* const clipFilter = m_clipFilter;
  for (int32_t iz = 0; iz < nz; ++iz) {
    for (int32_t iy = 0; iy < ny; ++iy) {
      for (int32_t ix = 0; ix < nx; ++ix) {
        const int32_t i = CellIndex(ix, iy, iz);
        const QzvCell& cell = m_cells[size_t(i)];
        query->totalPoints += cell.count;
        bool visible = cell.count > 0;
        bool whole = visible;
        if (visible && (queryFilter || clipFilter)) {
          double box[6];
          CellBox(ix, iy, iz, box);
          int r1 = 1;
          if (queryFilter) r1 = queryFilter->classifyBox(box[0], box[1], box[2], box[3], box[4], box[5]);
          if (r1 < 0) {
            visible = false;
          } else {
            int r2 = 1;
            if (clipFilter) r2 = clipFilter->classifyBox(box[0], box[1], box[2], box[3], box[4], box[5]);
            visible = r2 >= 0;
            whole = r1 > 0 && r2 > 0;
          }
        }
        if (visible) {
          query->cellStates.Set(2 * i);
          ++query->visibleCells;
          query->lodSum += cell.lod;
          if (cell.lod >= query->largestLod) query->largestLod = cell.lod;
          query->visiblePoints += cell.count;
        } else {
          query->cellStates.Reset(2 * i);
          whole = false;
        }
        if (whole) {
          query->cellStates.Set(2 * i + 1);
        } else {
          query->cellStates.Reset(2 * i + 1);
        }
      }
    }
  }
  query->totalCells = uint32_t(nx) * uint32_t(ny) * uint32_t(nz);
  query->planSize = query->visibleCells;
  return query;
}

void QvVorlinImp::CellBox(int32_t ix, int32_t iy, int32_t iz, double box[6]) const {
  const int32_t index[3] = {ix, iy, iz};
  for (int a = 0; a < 3; ++a) {
    box[a] = index[a] == 0 ? m_grid.boundsMin[a] : m_upperEdges[a][size_t(index[a] - 1)];
    box[3 + a] = m_upperEdges[a][size_t(index[a])];
  }
}
