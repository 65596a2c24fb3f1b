#include "engine/cell_loader.h"

#include <string.h>

#include <new>

#include "format/qzv_layout.h"

using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::CellPointV3;

CellLoader::~CellLoader() { Stop(); }

bool CellLoader::SetUp(int32_t nx, int32_t ny, int32_t nz, int32_t preloadBudget) {
  Stop();
  m_budget = preloadBudget;
  if (preloadBudget < 1) return false;
  m_stopRequested.store(false);
  m_finished.store(false);
  m_lock.reset(new vorlin::platform::CriticalSection());
  m_nx = nx;
  m_ny = ny;
  m_nz = nz;
  const int32_t n = nx * ny * nz;
  m_entries.reset(static_cast<Entry*>(calloc(size_t(n), sizeof(Entry))));
  if (!m_entries) throw std::bad_alloc();
  m_cellsBegun = 0;
  m_loaded.Resize(n);
  m_active = true;
  return true;
}

void CellLoader::Start(uint64_t totalPoints, vorlin::platform::File& file, const QzvCell* cells,
                       bool widen) {
  if (!m_active) return;
  StartRecord start{widen, &file, cells, totalPoints, m_nx, m_ny, m_nz, m_budget};
  m_thread.reset(new vorlin::platform::Thread());
  if (!m_thread->Start([this, start] { Run(start); })) m_finished.store(true);
}

void CellLoader::Stop() {
  if (!m_active) return;
  m_stopRequested.store(true);
  if (m_thread) {
    m_thread->Join();
    m_thread.reset();
  }
  m_lock.reset();
  // Only the cells the thread began can hold records.
  for (int32_t i = 0; i < m_cellsBegun; ++i) delete[] m_entries[size_t(i)].records;
  m_entries.reset();
  m_cellsBegun = 0;
  m_loaded.Release();
  m_nx = m_ny = m_nz = 0;
  m_active = false;
}

void CellLoader::Lock() {
  if (m_active) m_lock->Enter();
}

void CellLoader::Unlock() {
  if (m_active) m_lock->Leave();
}

const CellLoader::Entry* CellLoader::Lookup(int32_t ix, int32_t iy, int32_t iz) const {
  if (!m_active || ix < 0 || iy < 0 || iz < 0 || ix >= m_nx || iy >= m_ny || iz >= m_nz)
    return nullptr;
  const int32_t i = (iz * m_ny + iy) * m_nx + ix;
  return m_loaded.Test(i) ? &m_entries[size_t(i)] : nullptr;
}

void CellLoader::Run(const StartRecord& start) {
  const double total = double(start.totalPoints);
  const double budgetRecords = double(start.budget) / 20.0;
  for (int32_t iz = 0; iz < start.nz; ++iz) {
    for (int32_t iy = 0; iy < start.ny; ++iy) {
      for (int32_t ix = 0; ix < start.nx; ++ix) {
        LoadCell(start, (iz * start.ny + iy) * start.nx + ix, budgetRecords, total);
        if (m_stopRequested.load()) {
          m_finished.store(true, std::memory_order_release);
          return;
        }
      }
    }
  }
  m_finished.store(true, std::memory_order_release);
}

void CellLoader::LoadCell(const StartRecord& start, int32_t i, double budgetRecords,
                          double totalPoints) {
  CellLoaderLock guard(*this);
  m_loaded.Set(i);
  m_cellsBegun = i + 1;
  const QzvCell& cell = start.cells[i];
  // The cell's share of the budget, by its share of the file's points.
  const double wanted = totalPoints > 0.0 ? double(cell.count) * budgetRecords / totalPoints : 0.0;
  // A budget beyond the file's size would ask for more records than the cell has.
  uint32_t m = wanted >= double(cell.count) ? cell.count : uint32_t(wanted);
  if (m == 0) return;

  Entry& entry = m_entries[size_t(i)];
  std::unique_ptr<CellPoint[]> records(new (std::nothrow) CellPoint[m]);
  if (!records) return;  // out of memory: the queries read the file instead
  const size_t recordSize = start.widen ? vorlin::format::kRecordSizeV3
                                        : vorlin::format::kRecordSizeV4;
  std::unique_ptr<uint8_t[]> narrow;
  uint8_t* target = reinterpret_cast<uint8_t*>(records.get());
  if (start.widen) {
    narrow.reset(new (std::nothrow) uint8_t[size_t(m) * recordSize]);
    if (!narrow) return;
    target = narrow.get();
  }

  // An absolute read leaves the shared file position alone. Cells were
  // clamped to the file at open, so a failure means the file changed under
  // us; the cell then keeps nothing and the queries read it from the file.
  const uint32_t count =
      start.file->ReadExactAt(target, size_t(m) * recordSize, cell.offset) ? m : 0;
  if (start.widen) {
    for (uint32_t r = 0; r < count; ++r) {
      CellPoint& out = records[r];
      memcpy(&out, narrow.get() + size_t(r) * recordSize, recordSize);
      out.normalIndex = 0;
      out.customAttribute = 0;
      out.padding = 0;
    }
  }
  if (count == 0) return;
  entry.records = records.release();
  entry.count = count;
}
