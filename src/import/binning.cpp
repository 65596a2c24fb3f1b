#include <stdint.h>

#include "import/normal_code.h"
#include "import/point_cloud_importer.h"

using Zelvane::Vorlin::CellPoint;
using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::IReader2;
namespace status = Zelvane::Vorlin;

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

uint32_t PointCloudImporter::BinPoints() {
  AllocateCells(nx, ny, nz);
  if (progress) progress->setRange(20.0, 70.0);
  int64_t denominator = int64_t(totalPointCount);
  if (denominator < 2) denominator = int64_t(nx) * int64_t(ny) * int64_t(nz);
  const uint32_t mask = requestedAttributes & availableAttributes;

  uint64_t processed = 0;
  for (IReader* reader : readers) {
    IReader2* extended = dynamic_cast<IReader2*>(reader);
    SourcePoint s = {};
    bool more = ReadSourcePoint(reader, extended, true, s);
    while (more) {
      // Written as "not inside" so that a NaN coordinate, which has no cell,
      // counts as outside the bounds.
      for (int a = 0; a < 3; ++a) {
        if (!(s.p[a] >= boundsMin[a] && s.p[a] <= boundsMax[a])) throw status::OutOfExtents;
      }
      if (!(mask & status::AttributeColor)) s.red = s.green = s.blue = 0;
      if (!(mask & status::AttributeIntensity)) s.intensity = 0;
      if (!(mask & status::AttributeNormal)) s.normal[0] = s.normal[1] = s.normal[2] = 0.0f;
      if (!(mask & status::AttributeCustom)) s.custom = 0;

      CellPoint record;
      record.x = float(s.p[0] - centre[0]);
      record.y = float(s.p[1] - centre[1]);
      record.z = float(s.p[2] - centre[2]);
      record.color = (uint32_t(s.intensity) << 24) | (uint32_t(s.red) << 16) |
                     (uint32_t(s.green) << 8) | uint32_t(s.blue);
      // Most readers have no normals; a zero vector has no direction.
      record.normalIndex =
          s.normal[0] == 0.0f && s.normal[1] == 0.0f && s.normal[2] == 0.0f
              ? vorlin::kNoNormal
              : vorlin::NormalCode(double(s.normal[0]), double(s.normal[1]), double(s.normal[2]));
      record.customAttribute = s.custom;
      record.padding = 0;

      int ix, iy, iz;
      CellOfPoint(s.p, ix, iy, iz);
      if (!Cell(ix, iy, iz).Append(record)) throw status::TempFileFailed;

      ++processed;
      if (processed % kPollInterval == 0) {
        double percent = double(processed) * 100.0 / double(denominator);
        if (progress) {
          if (progress->isCancelled()) throw status::Cancelled;
          if (percent > 0.0) progress->setProgress(percent);
        }
      }
      more = ReadSourcePoint(reader, extended, false, s);
    }
  }
  if (progress) {
    progress->setProgress(100.0);
    progress->setRange(70.0, 100.0);
  }

  uint32_t largest = 0;
  for (int ix = 0; ix < nx; ++ix) {
    for (int iy = 0; iy < ny; ++iy) {
      for (int iz = 0; iz < nz; ++iz) {
        uint32_t n = Cell(ix, iy, iz).count;
        if (n > largest) largest = n;
      }
    }
  }
  return largest;
}
