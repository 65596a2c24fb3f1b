#ifndef VORLIN_ENGINE_CELL_LOADER_H
#define VORLIN_ENGINE_CELL_LOADER_H

#include <stdint.h>

#include <stdlib.h>

#include <atomic>
#include <memory>

#include "format/qzv_reader.h"
#include "base/bit_array.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "vorlin/cell_point.h"

using vorlin::format::QzvCell;
using vorlin::format::QzvCellTable;

// Preloads the leading records of every cell on a background thread, each
// cell in proportion to its share of the file's points, and owns the lock that
// serialises all reads of the engine's file. With a budget below 1 it is off:
// no thread, no lock, no entries.
class CellLoader {
 public:
  // Plain data, so that the table of a large grid comes zeroed from calloc
  // and its pages are touched by the thread that fills them, not by open.
  struct Entry {
    Zelvane::Vorlin::CellPoint* records;  // owned, new[]; null when count is 0
    uint32_t count;
  };

  CellLoader() = default;
  ~CellLoader();
  CellLoader(const CellLoader&) = delete;
  CellLoader& operator=(const CellLoader&) = delete;

  // Prepares an empty entry table; false (and off) for a budget below 1.
  bool SetUp(int32_t nx, int32_t ny, int32_t nz, int32_t preloadBudget);
  // Starts the thread over the engine's file and cell table (z-major order).
  // Both must stay unchanged until Stop returns.
  void Start(uint64_t totalPoints, vorlin::platform::File& file, const QzvCell* cells,
             bool widen);
  // Asks the thread to stop after its current cell, waits for it and frees
  // the entries; the loader is off afterwards.
  void Stop();

  void Lock();
  void Unlock();
  // The cell's entry once the thread has begun it, else null. The caller holds
  // the lock.
  const Entry* Lookup(int32_t ix, int32_t iy, int32_t iz) const;

  bool IsActive() const { return m_active; }
  // True once the thread has walked every cell (or stopped).
  bool IsFinished() const { return m_finished.load(std::memory_order_acquire); }

 private:
  struct StartRecord {
    bool widen;
    vorlin::platform::File* file;
    const QzvCell* cells;
    uint64_t totalPoints;
    int32_t nx, ny, nz;
    int32_t budget;
  };
  void Run(const StartRecord& start);
  void LoadCell(const StartRecord& start, int32_t i, double budgetRecords, double totalPoints);

  std::unique_ptr<vorlin::platform::CriticalSection> m_lock;
  std::unique_ptr<vorlin::platform::Thread> m_thread;
  BitArray m_loaded;
  struct FreeEntries {
    void operator()(Entry* entries) const { free(entries); }
  };
  std::unique_ptr<Entry[], FreeEntries> m_entries;
  int32_t m_cellsBegun = 0;  // the thread begins cells in index order
  int32_t m_nx = 0, m_ny = 0, m_nz = 0;
  int32_t m_budget = 0;
  bool m_active = false;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<bool> m_finished{false};
};

// Holds the loader's lock for a scope; a no-op when the loader is off.
class CellLoaderLock {
 public:
  explicit CellLoaderLock(CellLoader& loader) : m_loader(loader) { m_loader.Lock(); }
  ~CellLoaderLock() { m_loader.Unlock(); }
  CellLoaderLock(const CellLoaderLock&) = delete;
  CellLoaderLock& operator=(const CellLoaderLock&) = delete;

 private:
  CellLoader& m_loader;
};

#endif
