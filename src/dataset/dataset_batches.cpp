// Point sets and cursors over tiles: each holds its own tile queries and
// handles, pinning the tiles they read so the least-recently-used bound
// never closes a file under a live handle.
#include <math.h>

#include <algorithm>
#include <new>

#include "dataset/dataset_imp.h"

using namespace Zelvane::Vorlin;

namespace vorlin {
namespace dataset {

namespace {

// The largest stash a cursor keeps (20 MB of records): a tile with more
// visible cells than this whose every share is too small ends early.
constexpr uint64_t kMaxStash = uint64_t(1) << 20;

// One tile being read by a batch handle.
struct TileReader {
  size_t tile = 0;
  OpenTile* open = nullptr;
  IPointCloudQuery* query = nullptr;
  IPointSetData* set = nullptr;
  IPointCloudCursor* cursor = nullptr;
  uint64_t remaining = 0;  // share (point set) or visible points not yet taken (cursor)
  uint64_t visible = 0;    // cursor: the tile's visible points
  bool started = false;

  bool Start(DatasetImp& owner, const DatasetQuery& q) {
    open = owner.Acquire(tile);
    if (!open) return false;
    ++open->pins;
    query = owner.TileQuery(q, *open);
    if (!query) {
      Stop(owner);
      return false;
    }
    return true;
  }

  void Stop(DatasetImp& owner) {
    if (set) set->release();
    if (cursor) cursor->release();
    if (query) query->release();
    set = nullptr;
    cursor = nullptr;
    query = nullptr;
    if (open) owner.Unpin(tile);
    open = nullptr;
  }
};

// Filler records (NaN positions) after every tile's accepted ones, as one
// engine delivers them.
void FillersLast(CellPoint* records, size_t count) {
  std::stable_partition(records, records + count, [](const CellPoint& p) { return !isnan(p.x); });
}

class DatasetPointSet final : public IPointSetData {
 public:
  DatasetPointSet(DatasetImp& owner, std::vector<TileReader> readers)
      : m_owner(owner), m_readers(std::move(readers)) {}
  void release() override { delete this; }

  unsigned Next(const DatasetQuery& q, CellPoint* buffer, unsigned size) {
    while (m_next < m_readers.size()) {
      TileReader& r = m_readers[m_next];
      if (!r.started) {
        r.started = true;
        if (r.Start(m_owner, q)) {
          const unsigned got =
              r.open->engine->createPointSet(r.query, buffer, size, r.remaining, &r.set);
          if (got > 0) return Deliver(r, buffer, got);
        }
      } else if (r.set) {
        const unsigned got = r.open->engine->getPointSetPoints(r.query, buffer, size, r.set);
        if (got > 0) return Deliver(r, buffer, got);
      }
      r.Stop(m_owner);
      ++m_next;
    }
    return 0;
  }

 private:
  ~DatasetPointSet() {
    for (TileReader& r : m_readers) r.Stop(m_owner);
  }
  static unsigned Deliver(TileReader& r, CellPoint* buffer, unsigned got) {
    DatasetImp::ShiftRecords(buffer, got, r.open->shift);
    return got;
  }

  DatasetImp& m_owner;
  std::vector<TileReader> m_readers;
  size_t m_next = 0;
};

class DatasetCursor final : public IPointCloudCursor {
 public:
  DatasetCursor(DatasetImp& owner, const DatasetQuery& q) : m_owner(owner) {
    for (size_t k = 0; k < q.tiles.size(); ++k) {
      TileReader r;
      r.tile = q.tiles[k];
      r.remaining = q.visible[k];
      r.visible = q.visible[k];
      m_pending.push_back(r);
    }
  }
  void release() override { delete this; }

  unsigned Next(const DatasetQuery& q, CellPoint* buffer, unsigned size) {
    if (m_stashPos < m_stash.size()) return FromStash(buffer, size);
    unsigned total = 0;
    // Passes over the open window until the batch is full or no tile is
    // left to bring in: small tiles run dry within one batch.
    while (total < size) {
      // Tiles spent in an earlier pass (or call) leave room for the next.
      m_active.erase(std::remove_if(m_active.begin(), m_active.end(),
                                    [](const TileReader& r) { return !r.open; }),
                     m_active.end());
      while (m_active.size() < m_owner.maxOpenTiles() && m_nextPending < m_pending.size()) {
        TileReader r = m_pending[m_nextPending++];
        if (r.Start(m_owner, q)) m_active.push_back(r);
      }
      if (m_active.empty()) break;
      std::vector<uint64_t> weights;
      for (const TileReader& r : m_active) weights.push_back(std::max<uint64_t>(1, r.remaining));
      const std::vector<uint64_t> shares = SplitBudget(weights, size - total);
      unsigned written = 0;
      bool finished = false;  // some tile was found spent in this pass
      for (size_t k = 0; k < m_active.size(); ++k) {
        if (shares[k] == 0) continue;
        TileReader& r = m_active[k];
        const unsigned got = Fetch(r, buffer + total + written, unsigned(shares[k]));
        // A batch rounds every cell's share down, so one smaller than the
        // tile's visible cells may bring nothing although records are left;
        // one larger than its visible points that brings nothing means spent,
        // and so does a tile that gave all its visible points.
        if ((got == 0 && (!r.cursor || shares[k] > r.visible)) || r.remaining == 0) {
          r.Stop(m_owner);
          finished = true;
        }
        written += got;
      }
      total += written;
      if (written == 0 && !finished) {
        if (total > 0) break;
        // Every share was too small to bring a record. A batch larger than
        // a tile's visible points brings one unless the tile is spent, so
        // one such batch goes into the stash and is handed out from there.
        for (TileReader& r : m_active) {
          m_stash.resize(size_t(std::min<uint64_t>(r.visible + 1, kMaxStash)));
          const unsigned got = Fetch(r, m_stash.data(), unsigned(m_stash.size()));
          m_stash.resize(got);
          m_stashPos = 0;
          if (got > 0) return FromStash(buffer, size);
          r.Stop(m_owner);
        }
        continue;
      }
      // Without a spent tile no new one can come in: the rest waits for
      // the next batch.
      if (!finished) break;
    }
    FillersLast(buffer, total);
    return total;
  }

 private:
  ~DatasetCursor() {
    for (TileReader& r : m_active) r.Stop(m_owner);
  }

  unsigned FromStash(CellPoint* buffer, unsigned size) {
    const size_t n = std::min<size_t>(size, m_stash.size() - m_stashPos);
    std::copy(m_stash.begin() + ptrdiff_t(m_stashPos), m_stash.begin() + ptrdiff_t(m_stashPos + n),
              buffer);
    m_stashPos += n;
    if (m_stashPos == m_stash.size()) {
      m_stash.clear();
      m_stashPos = 0;
    }
    FillersLast(buffer, n);
    return unsigned(n);
  }

  unsigned Fetch(TileReader& r, CellPoint* buffer, unsigned size) {
    unsigned got;
    if (!r.started) {
      r.started = true;
      got = r.open->engine->createCursor(r.query, buffer, size, &r.cursor);
    } else {
      got = r.cursor ? r.open->engine->getCursorPoints(r.query, buffer, size, r.cursor) : 0;
    }
    DatasetImp::ShiftRecords(buffer, got, r.open->shift);
    r.remaining -= std::min<uint64_t>(r.remaining, got);
    return got;
  }

  DatasetImp& m_owner;
  std::vector<TileReader> m_pending;
  size_t m_nextPending = 0;
  std::vector<TileReader> m_active;
  // Records taken from a tile beyond what the caller's buffer held.
  std::vector<CellPoint> m_stash;
  size_t m_stashPos = 0;
};

}  // namespace

unsigned int DatasetImp::createPointSet(IPointCloudQuery* query, CellPoint* buffer,
                                        unsigned int bufferSize, unsigned long long pointCount,
                                        IPointSetData** set) {
  if (set) *set = nullptr;
  DatasetQuery* q = Own(query);
  if (!q || !set || !buffer || bufferSize == 0) return 0;
  const std::vector<uint64_t> shares = SplitBudget(q->visible, pointCount);
  std::vector<TileReader> readers;
  for (size_t k = 0; k < q->tiles.size(); ++k) {
    if (shares[k] == 0) continue;
    TileReader r;
    r.tile = q->tiles[k];
    r.remaining = shares[k];
    readers.push_back(r);
  }
  DatasetPointSet* made = new (std::nothrow) DatasetPointSet(*this, std::move(readers));
  if (!made) return 0;
  *set = made;
  return made->Next(*q, buffer, bufferSize);
}

unsigned int DatasetImp::getPointSetPoints(IPointCloudQuery* query, CellPoint* buffer,
                                           unsigned int bufferSize, IPointSetData* set) {
  DatasetQuery* q = Own(query);
  if (!q || !set || !buffer || bufferSize == 0) return 0;
  return static_cast<DatasetPointSet*>(set)->Next(*q, buffer, bufferSize);
}

unsigned int DatasetImp::createCursor(IPointCloudQuery* query, CellPoint* buffer,
                                      unsigned int bufferSize, IPointCloudCursor** cursor) {
  if (cursor) *cursor = nullptr;
  DatasetQuery* q = Own(query);
  if (!q || !cursor || !buffer || bufferSize == 0) return 0;
  if (q->tiles.empty()) return 0;
  DatasetCursor* made = new (std::nothrow) DatasetCursor(*this, *q);
  if (!made) return 0;
  *cursor = made;
  return made->Next(*q, buffer, bufferSize);
}

unsigned int DatasetImp::getCursorPoints(IPointCloudQuery* query, CellPoint* buffer,
                                         unsigned int bufferSize, IPointCloudCursor* cursor) {
  DatasetQuery* q = Own(query);
  if (!q || !cursor || !buffer || bufferSize == 0) return 0;
  return static_cast<DatasetCursor*>(cursor)->Next(*q, buffer, bufferSize);
}

}  // namespace dataset
}  // namespace vorlin
