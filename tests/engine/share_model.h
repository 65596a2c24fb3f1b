#ifndef VORLIN_TESTS_ENGINE_SHARE_MODEL_H
#define VORLIN_TESTS_ENGINE_SHARE_MODEL_H

// Reference models of how the fetches share a request out among visible
// cells, written from the rules rather than from the engine's code. Each
// returns the reads it expects: which records of which cell, in order.

#include <math.h>
#include <stdint.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "engine/qzv_test_file.h"

namespace share_model {

struct Cell {
  int64_t fileIndex;  // k: also the order of the cells' data in the file
  uint32_t count;
  double lod;
};

struct Read {
  int64_t fileIndex;
  uint32_t first;
  uint32_t count;
};

// Visible (non-empty) cells of a test file in the given nesting: z outermost
// (zMajor) or x outermost.
inline std::vector<Cell> VisibleCells(const qzv_test::TestFile& f, bool zMajor,
                                      const std::vector<bool>* visibleByFileIndex = nullptr) {
  std::vector<Cell> cells;
  const int outer = zMajor ? f.nz : f.nx, inner = zMajor ? f.nx : f.nz;
  for (int a = 0; a < outer; ++a)
    for (int iy = 0; iy < f.ny; ++iy)
      for (int b = 0; b < inner; ++b) {
        const int64_t k = f.FileIndex(zMajor ? b : a, iy, zMajor ? a : b);
        const uint32_t n = uint32_t(f.records[size_t(k)].size());
        if (n > 0 && (!visibleByFileIndex || (*visibleByFileIndex)[size_t(k)]))
          cells.push_back({k, n, double(f.lods[size_t(k)])});
      }
  return cells;
}

inline double LodSum(const std::vector<Cell>& cells) {
  double sum = 0.0;
  for (const Cell& c : cells) sum += c.lod;
  return sum;
}
inline uint64_t PointSum(const std::vector<Cell>& cells) {
  uint64_t sum = 0;
  for (const Cell& c : cells) sum += c.count;
  return sum;
}

// One-shot fetch: how many leading records each cell gives (z-major cells).
inline std::vector<uint32_t> OneShotTakes(const std::vector<Cell>& cells, uint64_t bufferSize) {
  std::vector<uint32_t> takes(cells.size(), 0);
  const uint64_t want = std::min(PointSum(cells), bufferSize);
  const double lodSum = LodSum(cells);
  if (cells.empty() || lodSum == 0.0) return takes;
  const double perLod = double(want) / lodSum;

  std::vector<int64_t> first(cells.size());
  for (size_t i = 0; i < cells.size(); ++i) first[i] = int64_t(floor(cells[i].lod * perLod + 0.5));
  std::vector<size_t> order(cells.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return int64_t(cells[a].count) - first[a] < int64_t(cells[b].count) - first[b];
  });

  int64_t stillOpen = int64_t(want);
  int64_t pointsAfter = int64_t(PointSum(cells));
  double shortfall = 0.0, lodAfter = lodSum, shortfallPerLod = 0.0;
  int64_t given = 0;
  bool takeWhole = false;
  for (size_t i : order) {
    const int64_t count = cells[i].count;
    int64_t take = count;
    if (!takeWhole) {
      pointsAfter -= count;
      take = first[i] + int64_t(shortfallPerLod * cells[i].lod + 0.5);
      take = std::min(std::max<int64_t>(take, 0), count);
      shortfall += double(first[i] - take);
      lodAfter -= cells[i].lod;
      shortfallPerLod = lodAfter > 0 ? shortfall / lodAfter : 0.0;
      if (take + pointsAfter < stillOpen) {
        takeWhole = true;
        take = std::min(count, stillOpen - pointsAfter);
      }
    }
    stillOpen -= take;
    take = std::min<int64_t>(take, int64_t(want) - given);
    given += take;
    takes[i] = uint32_t(take);
  }
  return takes;
}

// The reads of a one-shot fetch: leading records of each cell, front of the
// file first.
inline std::vector<Read> OneShotReads(const std::vector<Cell>& cells, uint64_t bufferSize) {
  const std::vector<uint32_t> takes = OneShotTakes(cells, bufferSize);
  std::vector<Read> reads;
  for (size_t i = 0; i < cells.size(); ++i) reads.push_back({cells[i].fileIndex, 0, takes[i]});
  std::sort(reads.begin(), reads.end(),
            [](const Read& a, const Read& b) { return a.fileIndex < b.fileIndex; });
  return reads;
}

// A point set over x-major cells, advanced batch by batch.
class PointSetModel {
 public:
  PointSetModel(std::vector<Cell> cells, uint64_t pointCount) : m_cells(std::move(cells)) {
    const double lodSum = LodSum(m_cells);
    m_lodLeft = lodSum;
    m_perLod = double(std::min(PointSum(m_cells), pointCount)) / lodSum;
  }

  std::vector<Read> Batch(uint32_t bufferSize) {
    std::vector<Read> reads;
    uint64_t used = 0;
    for (; m_cell < m_cells.size(); ++m_cell, m_inCell = 0) {
      const Cell& cell = m_cells[m_cell];
      const int64_t share = int64_t(cell.lod * m_perLod + 0.5);
      int64_t bonus = 0;
      if (share > int64_t(cell.count))
        m_shortfall += double(share - int64_t(cell.count));
      else if (m_shortfall > 0)
        bonus = int64_t(m_shortfall / m_lodLeft * cell.lod);
      // Counted in 32 bits that wrap: once a resumed cell is past its own
      // share, what it takes is no longer charged against the shortfall.
      const uint32_t due = uint32_t(share) - m_inCell;
      uint32_t take = std::min<uint32_t>(uint32_t(bonus) + due, cell.count - m_inCell);
      const uint32_t room = bufferSize - uint32_t(used);
      const bool full = take > room;
      if (full)
        take = room;
      else if (take > due)
        m_shortfall -= double(take - due);
      if (take > 0) reads.push_back({cell.fileIndex, m_inCell, uint32_t(take)});
      used += uint64_t(take);
      if (full) {
        m_inCell += uint32_t(take);
        return reads;
      }
      m_lodLeft -= cell.lod;
    }
    return reads;
  }

 private:
  std::vector<Cell> m_cells;
  double m_perLod = 0.0, m_shortfall = 0.0, m_lodLeft = 0.0;
  size_t m_cell = 0;
  uint32_t m_inCell = 0;
};

// A cursor over x-major cells, refined call by call.
class CursorModel {
 public:
  explicit CursorModel(std::vector<Cell> cells)
      : m_cells(std::move(cells)), m_taken(m_cells.size(), 0), m_carry(m_cells.size(), 0.0) {
    m_lodSum = LodSum(m_cells);
    m_visible = PointSum(m_cells);
  }

  std::vector<Read> Batch(uint32_t bufferSize) {
    std::vector<Read> reads;
    const uint64_t want = std::min<uint64_t>(m_visible - m_delivered, bufferSize);
    const double perLod = double(want) / m_lodSum;
    double lodToVisit = m_lodSum, lodWithRecords = 0.0;
    uint64_t used = 0;
    for (size_t i = 0; i < m_cells.size(); ++i) {
      const Cell& cell = m_cells[i];
      const double exact = cell.lod * perLod;
      double whole = floor(exact);
      m_carry[i] += exact - whole;
      if (m_carry[i] >= 1.0) whole += floor(m_carry[i]), m_carry[i] -= floor(m_carry[i]);
      const uint32_t left = cell.count - m_taken[i];
      uint64_t take = lodToVisit > 1e-6 ? std::min<uint64_t>(uint64_t(whole), left) : 0;
      take = std::min(take, want - used);
      if (take > 0) reads.push_back({cell.fileIndex, m_taken[i], uint32_t(take)});
      lodToVisit -= cell.lod;
      if (left > 0) lodWithRecords += cell.lod;
      used += take;
      m_taken[i] += uint32_t(take);
    }
    m_delivered += used;
    m_lodSum = lodWithRecords;
    return reads;
  }

 private:
  std::vector<Cell> m_cells;
  std::vector<uint32_t> m_taken;
  std::vector<double> m_carry;
  double m_lodSum = 0.0;
  uint64_t m_visible = 0, m_delivered = 0;
};

inline uint64_t Total(const std::vector<Read>& reads) {
  uint64_t n = 0;
  for (const Read& r : reads) n += r.count;
  return n;
}

// The records the reads name, as the engine delivers them.
inline std::vector<qzv_test::CellPoint> Records(const qzv_test::TestFile& f,
                                                const std::vector<Read>& reads) {
  std::vector<qzv_test::CellPoint> out;
  for (const Read& r : reads)
    for (uint32_t j = 0; j < r.count; ++j) out.push_back(f.records[size_t(r.fileIndex)][r.first + j]);
  return out;
}

}  // namespace share_model

#endif
