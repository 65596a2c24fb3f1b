#include <stdint.h>

#include <math.h>

#include <cfloat>
#include <typeinfo>

#include "import/grid_sizing.h"
#include "import/normal_code.h"
#include "import/source_pass.h"
#include "platform/wide_string.h"
#include "readers/las_reader.h"
#include "readers/xyb_reader.h"

using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::IReader2;
namespace status = Zelvane::Vorlin;
using Zelvane::Vorlin::VorlinStatus;

namespace {

constexpr uint64_t kPollInterval = 1000;

// One point as a reader delivers it; the extended fields stay 0 for readers
// that only have the plain reads.
struct SourcePoint {
  double p[3];
  unsigned char red, green, blue;
  unsigned char intensity;
  float normal[3];
  unsigned char custom;
};

// A read of the first or next point. Anything the reader throws ends the
// import as a failed read.
bool ReadSourcePoint(IReader* reader, IReader2* extended, bool first, SourcePoint& s) {
  try {
    if (extended) {
      return first ? extended->ReadFirstPointEx(s.p[0], s.p[1], s.p[2], s.red, s.green, s.blue,
                                                s.intensity, s.normal[0], s.normal[1],
                                                s.normal[2], s.custom)
                   : extended->ReadNextPointEx(s.p[0], s.p[1], s.p[2], s.red, s.green, s.blue,
                                               s.intensity, s.normal[0], s.normal[1],
                                               s.normal[2], s.custom);
    }
    s.intensity = 0;
    s.custom = 0;
    s.normal[0] = s.normal[1] = s.normal[2] = 0.0f;
    return first ? reader->ReadFirstPoint(s.p[0], s.p[1], s.p[2], s.red, s.green, s.blue)
                 : reader->ReadNextPoint(s.p[0], s.p[1], s.p[2], s.red, s.green, s.blue);
  } catch (...) {
    throw status::ReadFailed;
  }
}

}  // namespace

namespace vorlin {

std::unique_ptr<IReader> CreateBuiltinReader(const wchar_t* name) {
  if (platform::EndsWithNoCase(name, L".las"))
    return std::unique_ptr<IReader>(new Zelvane::Vorlin::LasReader());
  if (platform::EndsWithNoCase(name, L".xyb"))
    return std::unique_ptr<IReader>(new Zelvane::Vorlin::XYBReader());
  return nullptr;
}

VorlinStatus SourcePass::Gather(const wchar_t** names, IReader** readers, uint32_t count) {
  m_readers.assign(readers, readers + count);
  for (uint32_t i = 0; i < count; ++i) {
    if (m_readers[i]) continue;
    std::unique_ptr<IReader> reader = CreateBuiltinReader(names[i]);
    if (!reader) return status::UnsupportedFormat;
    m_readers[i] = reader.get();
    m_created.push_back(std::move(reader));
  }
  return status::Ok;
}

bool SourcePass::UnitsFactor(double& factor) {
  // A host reader that throws before anything is opened is treated like one
  // that cannot open.
  try {
    factor = m_readers[0]->UnitsToFeetConversionFactor();
  } catch (...) {
    return false;
  }
  return true;
}

bool SourcePass::Open(const wchar_t** names, SourceStats& stats) {
  for (int a = 0; a < 3; ++a) {
    stats.boundsMin[a] = 1e30;
    stats.boundsMax[a] = -1e30;
  }
  stats.points = 0;
  for (size_t i = 0; i < m_readers.size(); ++i) {
    bool opened = false;
    try {
      opened = m_readers[i]->Open(names[i]);
    } catch (...) {
      opened = false;
    }
    if (!opened) {
      Close();
      return false;
    }
    m_opened = i + 1;
    // Bounds a reader leaves unfilled stay NaN and are not merged; its
    // answer itself is not a verdict on the source, which binning reads.
    double lo[3] = {NAN, NAN, NAN};
    double hi[3] = {NAN, NAN, NAN};
    unsigned long long pointCount = 0;
    try {
      (void)m_readers[i]->FileStats(lo, hi, pointCount, stats.attributes);
    } catch (...) {
      Close();
      return false;
    }
    for (int a = 0; a < 3; ++a) {
      double l = lo[a] < hi[a] ? lo[a] : hi[a];
      double h = lo[a] < hi[a] ? hi[a] : lo[a];
      if (l < stats.boundsMin[a]) stats.boundsMin[a] = l;
      if (h > stats.boundsMax[a]) stats.boundsMax[a] = h;
    }
    stats.points += pointCount;
  }
  ApplyOnePointRule(stats.boundsMin, stats.boundsMax);
  return true;
}

void SourcePass::Close() {
  // A reader that throws from Close is still counted as closed; the others
  // are closed regardless.
  for (size_t i = 0; i < m_opened; ++i) {
    try {
      m_readers[i]->Close();
    } catch (...) {
    }
  }
  m_opened = 0;
}

SourceStats SourcePass::Measure() {
  SourceStats stats;
  for (int a = 0; a < 3; ++a) {
    stats.boundsMin[a] = DBL_MAX;
    stats.boundsMax[a] = -DBL_MAX;
  }
  for (IReader* reader : m_readers) {
    SourcePoint s = {};
    bool more = ReadSourcePoint(reader, nullptr, true, s);
    while (more) {
      ++stats.points;
      // Points at the origin are counted but do not widen the box; neither
      // do non-finite ones, which the next binning pass rejects.
      bool atOrigin = s.p[0] == 0.0 && s.p[1] == 0.0 && s.p[2] == 0.0;
      bool finite = isfinite(s.p[0]) && isfinite(s.p[1]) && isfinite(s.p[2]);
      if (!atOrigin && finite) {
        for (int a = 0; a < 3; ++a) {
          if (s.p[a] < stats.boundsMin[a]) stats.boundsMin[a] = s.p[a];
          if (s.p[a] > stats.boundsMax[a]) stats.boundsMax[a] = s.p[a];
        }
      }
      more = ReadSourcePoint(reader, nullptr, false, s);
    }
  }
  // A cloud of one distinct position would leave a box of no size, and the
  // grid arithmetic would divide zero by zero.
  ApplyOnePointRule(stats.boundsMin, stats.boundsMax);
  return stats;
}

namespace {

// The binning of one point after another: record, cell, append and the
// progress poll. Inline so that the bulk path pays no call per point.
class Binner {
 public:
  Binner(const format::QzvGrid& grid, uint32_t mask, CellArray& cells, int64_t denominator,
         Zelvane::Vorlin::IVorlinProgress* progress)
      : m_grid(grid), m_mask(mask), m_cells(cells), m_denominator(denominator),
        m_progress(progress) {}

  // The record and cell index of a point; false when the point lies outside
  // the grid's bounds. No side effects, so a batch can be prepared ahead.
  bool Prepare(const double p[3], unsigned char red, unsigned char green, unsigned char blue,
               unsigned char intensity, const float normal[3], unsigned char custom,
               CellPoint& record, size_t& cell) const {
    // Written as "not inside" so that a NaN coordinate, which has no cell,
    // counts as outside the bounds.
    for (int a = 0; a < 3; ++a) {
      if (!(p[a] >= m_grid.boundsMin[a] && p[a] <= m_grid.boundsMax[a])) return false;
    }
    if (!(m_mask & status::AttributeColor)) red = green = blue = 0;
    if (!(m_mask & status::AttributeIntensity)) intensity = 0;
    if (!(m_mask & status::AttributeCustom)) custom = 0;

    record.x = float(p[0] - m_grid.centre[0]);
    record.y = float(p[1] - m_grid.centre[1]);
    record.z = float(p[2] - m_grid.centre[2]);
    record.color = (uint32_t(intensity) << 24) | (uint32_t(red) << 16) |
                   (uint32_t(green) << 8) | uint32_t(blue);
    // Most readers have no normals; a zero vector has no direction.
    record.normalIndex =
        !normal || !(m_mask & status::AttributeNormal) ||
                (normal[0] == 0.0f && normal[1] == 0.0f && normal[2] == 0.0f)
            ? kNoNormal
            : NormalCode(double(normal[0]), double(normal[1]), double(normal[2]));
    record.customAttribute = custom;
    record.padding = 0;

    int ix, iy, iz;
    CellOfPoint(m_grid, p, ix, iy, iz);
    cell = (size_t(iz) * size_t(m_grid.ny) + size_t(iy)) * size_t(m_grid.nx) + size_t(ix);
    return true;
  }

  // Appends a prepared record and polls the progress. Throws Cancelled or
  // TempFileFailed.
  void Commit(const CellPoint& record, size_t cell) {
    if (!m_cells.At(cell).Append(record)) throw status::TempFileFailed;
    ++m_processed;
    if (m_processed % kPollInterval == 0 && m_progress) {
      double percent = double(m_processed) * 100.0 / double(m_denominator);
      if (m_progress->isCancelled()) throw status::Cancelled;
      if (percent > 0.0) m_progress->setProgress(percent);
    }
  }

  bool Add(const double p[3], unsigned char red, unsigned char green, unsigned char blue,
           unsigned char intensity, const float normal[3], unsigned char custom) {
    CellPoint record;
    size_t cell;
    if (!Prepare(p, red, green, blue, intensity, normal, custom, record, cell)) return false;
    Commit(record, cell);
    return true;
  }

 private:
  const format::QzvGrid& m_grid;
  const uint32_t m_mask;
  CellArray& m_cells;
  const int64_t m_denominator;
  Zelvane::Vorlin::IVorlinProgress* const m_progress;
  uint64_t m_processed = 0;
};

// The points of a reader that delivers them in batches (the built-in LAS
// reader, the source reader); false at a point outside the bounds.
template <class BatchReader>
bool BinPointBatches(BatchReader& reader, Binner& binner) {
  constexpr size_t kBatch = 1024;
  std::unique_ptr<Zelvane::Vorlin::LasPoint[]> batch(new Zelvane::Vorlin::LasPoint[kBatch]);
  std::unique_ptr<CellPoint[]> records(new CellPoint[kBatch]);
  std::unique_ptr<size_t[]> cells(new size_t[kBatch]);
  for (;;) {
    size_t got = 0;
    try {
      got = reader.ReadNextPoints(batch.get(), kBatch);
    } catch (...) {
      throw status::ReadFailed;
    }
    if (got == 0) return true;
    // Records and cells first, appends second: the appends' scattered
    // memory accesses then no longer wait on the divisions.
    size_t prepared = 0;
    for (; prepared < got; ++prepared) {
      const Zelvane::Vorlin::LasPoint& q = batch[prepared];
      const double p[3] = {q.x, q.y, q.z};
      if (!binner.Prepare(p, q.red, q.green, q.blue, q.intensity, nullptr, q.customAttribute,
                          records[prepared], cells[prepared]))
        break;
    }
    for (size_t i = 0; i < prepared; ++i) binner.Commit(records[i], cells[i]);
    if (prepared < got) return false;
  }
}

}  // namespace

bool SourcePass::Bin(const format::QzvGrid& grid, uint64_t announced, uint32_t mask,
                     CellArray& cells, Zelvane::Vorlin::IVorlinProgress* progress) {
  cells.Allocate(grid.nx, grid.ny, grid.nz);
  if (progress) progress->setRange(20.0, 70.0);
  int64_t denominator = int64_t(announced);
  if (denominator < 2) denominator = int64_t(grid.nx) * int64_t(grid.ny) * int64_t(grid.nz);

  Binner binner(grid, mask, cells, denominator, progress);
  for (IReader* reader : m_readers) {
    IReader2* extended = dynamic_cast<IReader2*>(reader);
    SourcePoint s = {};
    bool more = ReadSourcePoint(reader, extended, true, s);
    if (!more) continue;
    if (!binner.Add(s.p, s.red, s.green, s.blue, s.intensity, s.normal, s.custom)) return false;
    // Only the readers themselves: a host's class derived from one may
    // read differently.
    if (typeid(*reader) == typeid(Zelvane::Vorlin::LasReader)) {
      if (!BinPointBatches(*static_cast<Zelvane::Vorlin::LasReader*>(reader), binner))
        return false;
      continue;
    }
    if (typeid(*reader) == typeid(Zelvane::Vorlin::SourceReader)) {
      if (!BinPointBatches(*static_cast<Zelvane::Vorlin::SourceReader*>(reader), binner))
        return false;
      continue;
    }
    while ((more = ReadSourcePoint(reader, extended, false, s))) {
      if (!binner.Add(s.p, s.red, s.green, s.blue, s.intensity, s.normal, s.custom))
        return false;
    }
  }
  if (progress) {
    progress->setProgress(100.0);
    progress->setRange(70.0, 100.0);
  }
  return true;
}

}  // namespace vorlin
