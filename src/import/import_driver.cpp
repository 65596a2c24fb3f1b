#include <math.h>

#include <cfloat>
#include <memory>
#include <vector>

#include "import/file_handle.h"
#include "import/point_cloud_importer.h"
#include "import/stage_clock.h"
#include "platform/file.h"
#include "platform/random.h"
#include "platform/wide_string.h"
#include "readers/las_reader.h"
#include "readers/xyb_reader.h"

using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::IVorlinProgress;
using Zelvane::Vorlin::VorlinStatus;
namespace status = Zelvane::Vorlin;

namespace vorlin {

std::unique_ptr<IReader> CreateBuiltinReader(const wchar_t* name) {
  if (platform::EndsWithNoCase(name, L".las"))
    return std::unique_ptr<IReader>(new Zelvane::Vorlin::LasReader());
  if (platform::EndsWithNoCase(name, L".xyb"))
    return std::unique_ptr<IReader>(new Zelvane::Vorlin::XYBReader());
  return nullptr;
}

}  // namespace vorlin

namespace {

// Closes the first n readers in order. A reader that throws from Close is
// still counted as closed; the others are closed regardless.
void CloseReaders(const std::vector<IReader*>& readers, size_t n) {
  for (size_t i = 0; i < n && i < readers.size(); ++i) {
    try {
      readers[i]->Close();
    } catch (...) {
    }
  }
}

// A failed import leaves no file. Neither result can change the status: a
// file that cannot be deleted is already as gone as this import can make it.
void DiscardOutput(FileHandle& out, const wchar_t* outputFile) {
  if (out.IsValid()) (void)out.Close();
  (void)vorlin::platform::DeleteFileAt(outputFile);
}

uint64_t DrawFileId() {
  uint64_t r1 = uint64_t(vorlin::platform::Rand());
  uint64_t r2 = uint64_t(vorlin::platform::Rand());
  uint64_t r3 = uint64_t(vorlin::platform::Rand());
  uint64_t r4 = uint64_t(vorlin::platform::Rand());
  return (((r1 << 16) | r2) << 32) | ((r3 << 16) | r4);
}

}  // namespace

void PointCloudImporter::ApplyOnePointRule() {
  if (boundsMin[0] == boundsMax[0] && boundsMin[1] == boundsMax[1] &&
      boundsMin[2] == boundsMax[2]) {
    for (int a = 0; a < 3; ++a) boundsMax[a] += 1.0;
  }
}

VorlinStatus PointCloudImporter::RunImport(const wchar_t** sourceFiles, const wchar_t* outputFile,
                                           IReader** hostReaders, uint32_t count,
                                           IVorlinProgress* progressObject,
                                           uint32_t attributes) {
  if (!sourceFiles || !outputFile || !hostReaders || count == 0) return status::InvalidArgument;
  // A missing name can be neither matched to a reader nor opened.
  for (uint32_t i = 0; i < count; ++i) {
    if (!sourceFiles[i]) return status::InvalidArgument;
  }

  std::vector<IReader*> list(hostReaders, hostReaders + count);
  std::vector<std::unique_ptr<IReader>> created;
  for (uint32_t i = 0; i < count; ++i) {
    if (list[i]) continue;
    std::unique_ptr<IReader> reader = vorlin::CreateBuiltinReader(sourceFiles[i]);
    if (!reader) return status::UnsupportedFormat;
    list[i] = reader.get();
    created.push_back(std::move(reader));
  }

  requestedAttributes = attributes;
  readers.insert(readers.end(), list.begin(), list.end());
  progress = progressObject;
  revision = 0;
  fileId = DrawFileId();

  // A host reader that throws before anything is opened is treated like one
  // that cannot open.
  try {
    unitsFactor = readers[0]->UnitsToFeetConversionFactor();
  } catch (...) {
    return status::OpenFailed;
  }

  totalPointCount = 0;
  for (int a = 0; a < 3; ++a) {
    boundsMin[a] = 1e30;
    boundsMax[a] = -1e30;
  }
  for (size_t i = 0; i < readers.size(); ++i) {
    bool opened = false;
    try {
      opened = readers[i]->Open(sourceFiles[i]);
    } catch (...) {
      opened = false;
    }
    if (!opened) {
      CloseReaders(readers, i);
      return status::OpenFailed;
    }
    // Bounds a reader leaves unfilled stay NaN and are not merged.
    double lo[3] = {NAN, NAN, NAN};
    double hi[3] = {NAN, NAN, NAN};
    unsigned long long pointCount = 0;
    try {
      readers[i]->FileStats(lo, hi, pointCount, availableAttributes);
    } catch (...) {
      CloseReaders(readers, i + 1);
      return status::OpenFailed;
    }
    for (int a = 0; a < 3; ++a) {
      double l = lo[a] < hi[a] ? lo[a] : hi[a];
      double h = lo[a] < hi[a] ? hi[a] : lo[a];
      if (l < boundsMin[a]) boundsMin[a] = l;
      if (h > boundsMax[a]) boundsMax[a] = h;
    }
    totalPointCount += pointCount;
  }
  ApplyOnePointRule();

  VorlinStatus result = status::Ok;
  if (totalPointCount == 0) {
    result = status::ReadFailed;
  } else {
    FileHandle out(vorlin::platform::File::Open(
        outputFile, vorlin::platform::kAccessRead | vorlin::platform::kAccessWrite,
        vorlin::platform::kShareNone, vorlin::platform::Disposition::kCreateAlways));
    if (!out.IsValid()) {
      result = status::CreateFailed;
    } else {
      vorlin::platform::Srand(fixedSeed ? seed
                                        : uint32_t(vorlin::platform::CalendarTimeSeconds()));
      try {
        vorlin::StageClock clock(stageTimes);
        uint32_t largest = BuildCells();
        clock.Lap(&vorlin::ImportStageTimes::binning);
        FlushAll();
        clock.Lap(&vorlin::ImportStageTimes::flush);
        WriteIndexFile(out, largest);
        // Ordering time is taken out of this lap by WriteIndexFile.
        clock.Lap(&vorlin::ImportStageTimes::writing);
      } catch (VorlinStatus thrown) {
        result = thrown;
      } catch (...) {
        // An allocation failure leaves the import to the host, but not its
        // files or opened readers.
        DiscardOutput(out, outputFile);
        ReleaseCells();
        CloseReaders(readers, readers.size());
        throw;
      }
      // A close can be the first to hear of a failed delayed write.
      if (result == status::Ok && !out.Close()) result = status::WriteFailed;
      if (result != status::Ok) DiscardOutput(out, outputFile);
      ReleaseCells();
    }
  }
  CloseReaders(readers, readers.size());
  return result;
}

void PointCloudImporter::RemeasureExtents() {
  for (int a = 0; a < 3; ++a) {
    boundsMin[a] = DBL_MAX;
    boundsMax[a] = -DBL_MAX;
  }
  totalPointCount = 0;
  for (IReader* reader : readers) {
    double p[3];
    unsigned char r, g, b;
    bool more;
    try {
      more = reader->ReadFirstPoint(p[0], p[1], p[2], r, g, b);
    } catch (...) {
      throw status::ReadFailed;
    }
    while (more) {
      ++totalPointCount;
      // Points at the origin are counted but do not widen the box; neither
      // do non-finite ones, which the next binning pass rejects.
      bool atOrigin = p[0] == 0.0 && p[1] == 0.0 && p[2] == 0.0;
      bool finite = isfinite(p[0]) && isfinite(p[1]) && isfinite(p[2]);
      if (!atOrigin && finite) {
        for (int a = 0; a < 3; ++a) {
          if (p[a] < boundsMin[a]) boundsMin[a] = p[a];
          if (p[a] > boundsMax[a]) boundsMax[a] = p[a];
        }
      }
      try {
        more = reader->ReadNextPoint(p[0], p[1], p[2], r, g, b);
      } catch (...) {
        throw status::ReadFailed;
      }
    }
  }
  // A cloud of one distinct position would leave a box of no size, and the
  // grid arithmetic would divide zero by zero.
  ApplyOnePointRule();
}
