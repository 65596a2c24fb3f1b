#include <memory>
#include <vector>

#include "import/file_handle.h"
#include "import/grid_sizing.h"
#include "import/point_cloud_importer.h"
#include "import/stage_clock.h"
#include "platform/file.h"
#include "platform/random.h"

using Zelvane::Vorlin::IReader;
using Zelvane::Vorlin::IVorlinProgress;
using Zelvane::Vorlin::VorlinStatus;
namespace status = Zelvane::Vorlin;

namespace {

uint64_t DrawFileId() {
  uint64_t r1 = uint64_t(vorlin::platform::Rand());
  uint64_t r2 = uint64_t(vorlin::platform::Rand());
  uint64_t r3 = uint64_t(vorlin::platform::Rand());
  uint64_t r4 = uint64_t(vorlin::platform::Rand());
  return (((r1 << 16) | r2) << 32) | ((r3 << 16) | r4);
}

// A failed import leaves no file. Neither result can change the status: a
// file that cannot be deleted is already as gone as this import can make it.
void DiscardOutput(FileHandle& out, const wchar_t* outputFile) {
  if (out.IsValid()) (void)out.Close();
  (void)vorlin::platform::DeleteFileAt(outputFile);
}

}  // namespace

VorlinStatus PointCloudImporter::RunImport(const wchar_t** sourceFiles, const wchar_t* outputFile,
                                           IReader** hostReaders, uint32_t count,
                                           IVorlinProgress* progressObject,
                                           uint32_t attributes) {
  if (!sourceFiles || !outputFile || !hostReaders || count == 0) return status::InvalidArgument;
  // A missing name can be neither matched to a reader nor opened.
  for (uint32_t i = 0; i < count; ++i) {
    if (!sourceFiles[i]) return status::InvalidArgument;
  }

  vorlin::SourcePass sources;
  const VorlinStatus gathered = sources.Gather(sourceFiles, hostReaders, count);
  if (gathered != status::Ok) return gathered;

  requestedAttributes = attributes;
  progress = progressObject;
  fileId = DrawFileId();
  if (!sources.UnitsFactor(unitsFactor)) return status::OpenFailed;

  vorlin::SourceStats stats;
  if (!sources.Open(sourceFiles, stats)) return status::OpenFailed;
  availableAttributes = stats.attributes;
  totalPointCount = stats.points;
  if (stats.points == 0) return status::ReadFailed;

  FileHandle out(vorlin::platform::File::Open(
      outputFile, vorlin::platform::kAccessRead | vorlin::platform::kAccessWrite,
      vorlin::platform::kShareNone, vorlin::platform::Disposition::kCreateAlways));
  if (!out.IsValid()) return status::CreateFailed;

  vorlin::platform::Srand(fixedSeed ? seed : uint32_t(vorlin::platform::CalendarTimeSeconds()));
  VorlinStatus result = status::Ok;
  try {
    vorlin::StageClock clock(stageTimes);
    uint32_t largest = BuildCells(sources, stats);
    clock.Lap(&vorlin::ImportStageTimes::binning);
    cells.FlushAll();
    clock.Lap(&vorlin::ImportStageTimes::flush);
    WriteIndexFile(out, largest);
    // Ordering time is taken out of this lap by WriteIndexFile.
    clock.Lap(&vorlin::ImportStageTimes::writing);
  } catch (VorlinStatus thrown) {
    result = thrown;
  } catch (...) {
    // An allocation failure leaves the import to the host, but not its
    // files or opened readers (the source pass closes them).
    DiscardOutput(out, outputFile);
    cells.Release();
    throw;
  }
  // A close can be the first to hear of a failed delayed write.
  if (result == status::Ok && !out.Close()) result = status::WriteFailed;
  if (result != status::Ok) DiscardOutput(out, outputFile);
  cells.Release();
  return result;
}

uint32_t PointCloudImporter::BuildCells(vorlin::SourcePass& sources, vorlin::SourceStats stats) {
  const uint32_t mask = requestedAttributes & availableAttributes;
  // The readers' bounds first. A box that cannot be gridded, or a point
  // outside it, sends the import through one re-measurement of the points;
  // a second miss means points without a place (coordinates that are not
  // numbers), and the import is refused rather than lose them.
  for (bool remeasured = false;; remeasured = true) {
    bool binned = false;
    if (vorlin::SizeGrid(stats.boundsMin, stats.boundsMax, stats.points, grid)) {
      if (progress && progress->isCancelled()) throw status::Cancelled;
      binned = sources.Bin(grid, stats.points, mask, cells, progress);
    }
    if (binned) break;
    if (remeasured) throw status::OutOfExtents;
    cells.Release();
    stats = sources.Measure();
    totalPointCount = stats.points;
  }
  uint32_t largest = cells.Largest();
  vorlin::format::QzvGrid refined;
  if (vorlin::RefineGrid(grid, largest, refined)) {
    grid = refined;
    cells.Release();
    if (!sources.Bin(grid, stats.points, mask, cells, progress)) throw status::OutOfExtents;
    largest = cells.Largest();
  }
  return largest;
}
