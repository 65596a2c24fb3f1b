#include "import/windowed_shuffle.h"

#include <algorithm>
#include <type_traits>
#include <utility>
#include <vector>

#include "import/ordering_steps.h"
#include "platform/file.h"
#include "platform/large_allocation.h"
#include "platform/temp_file.h"

namespace vorlin {
namespace {

// Placed records are read and rewritten in chunks of at most this many.
constexpr uint32_t kMaxChunkRecords = uint32_t(1) << 17;
// Per step of a window: its record and partner, its entry in the chunk
// order, and for a placed record it reaches, a copy, the copy's place in its
// chunk and the last step that reached it.
constexpr size_t kBytesPerStep = 2 * sizeof(CellPoint) + 4 * sizeof(uint32_t);
// Per record of a chunk: the record and its table mark.
constexpr size_t kBytesPerChunkRecord = sizeof(CellPoint) + sizeof(uint32_t);
constexpr size_t kRecordBytes = sizeof(CellPoint);

// A placed record the window reaches: where it sits in its chunk and the
// last step of the window that reaches it (a window offset).
struct Reached {
  uint32_t local;
  uint32_t lastStep;
};

class WindowedShuffle {
 public:
  WindowedShuffle(RecordRange& range, uint32_t n, uint32_t window)
      : m_range(range),
        m_n(n),
        m_window(std::max<uint32_t>(1, std::min(window, n))),
        m_chunk(std::min(m_window, kMaxChunkRecords)) {
    // One allocation, handed back to the system whole when the shuffle ends,
    // so that it cannot stay behind in a heap that paged blocks fragment.
    const size_t w = m_window;
    const size_t c = m_chunk;
    m_memory.resize(w * sizeof(Reached) + (2 * w + c) * sizeof(CellPoint) +
                    (2 * w + c) * sizeof(uint32_t));
    uint8_t* at = m_memory.data();
    auto take = [&at](auto*& array, size_t count) {
      array = reinterpret_cast<std::remove_reference_t<decltype(array)>>(at);
      at += count * sizeof(*array);
    };
    take(m_reached, w);
    take(m_records, w);
    take(m_table, w);
    take(m_chunkRecords, c);
    take(m_partner, w);
    take(m_byChunk, w);
    take(m_mark, c);
    std::fill(m_mark, m_mark + c, 0u);
  }

  bool Run() {
    if (m_n < 2) return true;
    for (uint32_t s = 0; s < m_n;) {
      const uint32_t e = m_n - s > m_window ? s + m_window : m_n;
      if (!Window(s, e)) return false;
      s = e;
    }
    return true;
  }

 private:
  bool Fail() {
    m_failed = true;
    return false;
  }

  bool Window(uint32_t s, uint32_t e) {
    const uint32_t count = e - s;
    if (!m_range.Read(s, m_records, count)) return Fail();
    if (Draw(s, e) > 0 && !VisitPlaced(s)) return false;
    Replay(s, count);
    if (e < m_n) return WritePlaced(s, m_records, count);
    // The last window goes straight back, then everything placed before it.
    if (!m_range.Write(s, m_records, count)) return Fail();
    return CopyBack(s);
  }

  // Draws the window's partners in step order and counts, per chunk of the
  // placed records, the steps that reach one. Returns how many do.
  size_t Draw(uint32_t s, uint32_t e) {
    const uint32_t chunks = s == 0 ? 0 : (s - 1) / m_chunk + 1;
    m_chunkEnd.assign(size_t(chunks) + 1, 0);
    size_t reaching = 0;
    for (uint32_t i = std::max<uint32_t>(s, 1); i < e; ++i) {
      const uint32_t j = DrawShufflePartner(i);
      m_partner[i - s] = j;
      if (j < s) {
        ++m_chunkEnd[j / m_chunk + 1];
        ++reaching;
      }
    }
    return reaching;
  }

  // One pass over the chunks of placed records that the window reaches:
  // copies the reached records into the table and leaves in each the
  // original record of the last step reaching it, which is what it holds
  // once the window's swaps are done. A partner below s becomes
  // s - 1 - (its table slot).
  bool VisitPlaced(uint32_t s) {
    const size_t chunks = m_chunkEnd.size() - 1;
    for (size_t c = 1; c <= chunks; ++c) m_chunkEnd[c] += m_chunkEnd[c - 1];
    // Each chunk's steps in step order; afterwards m_chunkEnd[c] ends chunk c.
    const uint32_t count = uint32_t(std::min<uint64_t>(m_window, m_n - uint64_t(s)));
    for (uint32_t k = s == 0 ? 1 : 0; k < count; ++k) {
      const uint32_t j = m_partner[k];
      if (j < s) m_byChunk[m_chunkEnd[j / m_chunk]++] = k;
    }
    m_tableSize = 0;
    uint32_t begin = 0;
    for (size_t c = 0; c < chunks; ++c) {
      const uint32_t end = m_chunkEnd[c];
      if (begin == end) continue;
      const uint32_t first = uint32_t(c) * m_chunk;
      const uint32_t records = std::min(m_chunk, s - first);
      if (!ReadPlaced(first, m_chunkRecords, records)) return false;
      const uint32_t firstSlot = m_tableSize;
      for (uint32_t b = begin; b < end; ++b) {
        const uint32_t k = m_byChunk[b];
        const uint32_t local = m_partner[k] - first;
        uint32_t slot = m_mark[local];
        if (slot == 0) {
          m_table[m_tableSize] = m_chunkRecords[local];
          m_reached[m_tableSize] = {local, k};
          slot = ++m_tableSize;
          m_mark[local] = slot;
        } else {
          m_reached[slot - 1].lastStep = k;
        }
        m_partner[k] = s - slot;
      }
      for (uint32_t t = firstSlot; t < m_tableSize; ++t) {
        const Reached& r = m_reached[t];
        m_chunkRecords[r.local] = m_records[r.lastStep];
        m_mark[r.local] = 0;
      }
      if (!WritePlaced(first, m_chunkRecords, records)) return false;
      begin = end;
    }
    return true;
  }

  // The window's swaps in step order, against the window and the table.
  void Replay(uint32_t s, uint32_t count) {
    CellPoint* window = m_records;
    CellPoint* table = m_table;
    auto partner = [&](uint32_t k) {
      const uint32_t p = m_partner[k];
      return p >= s ? window + (p - s) : table + (s - 1 - p);
    };
    constexpr uint32_t kAhead = 16;
    for (uint32_t k = s == 0 ? 1 : 0; k < count; ++k) {
      if (k + kAhead < count) __builtin_prefetch(partner(k + kAhead), 1);
      std::swap(window[k], *partner(k));
    }
  }

  bool ReadPlaced(uint32_t first, CellPoint* destination, uint32_t count) {
    if (m_failed) return false;
    if (!m_placed.ReadExactAt(destination, size_t(count) * kRecordBytes,
                              uint64_t(first) * kRecordBytes))
      return Fail();
    return true;
  }

  bool WritePlaced(uint32_t first, const CellPoint* source, uint32_t count) {
    if (m_failed) return false;
    if (!m_placed.IsValid()) {
      m_placed = platform::CreateTemporaryFile();
      if (!m_placed.IsValid()) return Fail();
      m_filePosition = 0;
    }
    const int64_t offset = int64_t(first) * int64_t(kRecordBytes);
    const size_t bytes = size_t(count) * kRecordBytes;
    // Windows append one after the other: skip the seek when already there.
    if (offset != m_filePosition && !m_placed.Seek(offset)) return Fail();
    if (!m_placed.Write(source, bytes)) return Fail();
    m_filePosition = offset + int64_t(bytes);
    return true;
  }

  bool CopyBack(uint32_t count) {
    for (uint32_t at = 0; at < count;) {
      const uint32_t piece = std::min(m_window, count - at);
      if (!ReadPlaced(at, m_records, piece)) return false;
      if (!m_range.Write(at, m_records, piece)) return Fail();
      at += piece;
    }
    return true;
  }

  RecordRange& m_range;
  const uint32_t m_n;
  const uint32_t m_window;
  const uint32_t m_chunk;
  platform::LargeVector<uint8_t> m_memory;  // holds the arrays below
  CellPoint* m_records = nullptr;     // the window's records
  uint32_t* m_partner = nullptr;      // per step of the window
  uint32_t* m_byChunk = nullptr;      // steps reaching placed records, by chunk
  CellPoint* m_table = nullptr;       // placed records the window reaches
  Reached* m_reached = nullptr;       // per table slot
  uint32_t m_tableSize = 0;
  CellPoint* m_chunkRecords = nullptr;
  uint32_t* m_mark = nullptr;         // per chunk record: its table slot + 1, or 0
  std::vector<uint32_t> m_chunkEnd;   // per chunk: its end in m_byChunk
  platform::File m_placed;            // records [0, s) as earlier windows left them
  int64_t m_filePosition = -1;
  bool m_failed = false;
};

}  // namespace

uint32_t ShuffleWindowRecords(size_t memoryBytes) {
  const size_t chunkBytes = size_t(kMaxChunkRecords) * kBytesPerChunkRecord;
  const size_t window = memoryBytes >= 2 * chunkBytes
                            ? (memoryBytes - chunkBytes) / kBytesPerStep
                            : memoryBytes / (kBytesPerStep + kBytesPerChunkRecord);
  return uint32_t(std::min<size_t>(std::max<size_t>(window, 1), UINT32_MAX));
}

bool ShuffleRecordsWindowed(RecordRange& range, uint32_t n, uint32_t windowRecords) {
  WindowedShuffle shuffle(range, n, windowRecords);
  return shuffle.Run();
}

}  // namespace vorlin
