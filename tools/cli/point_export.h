#ifndef VORLIN_CLI_POINT_EXPORT_H
#define VORLIN_CLI_POINT_EXPORT_H

// The points mode of the query command: N points (or all) of what a filter
// sees, fetched a block of cells at a time so that memory stays bounded by
// the block size (or the largest cell) whatever N is. A clipped fetch that
// comes back short asks its block again for more records until it has its
// share or the block is used up.

#include <stdint.h>

#include <vector>

#include "point_writer.h"
#include "qzv_summary.h"
#include "vorlin/vorlin.h"

namespace vorlin {
namespace cli {

struct ExportRequest {
  Zelvane::Vorlin::IPointCloudFilter* filter = nullptr;  // null: the whole file
  bool clip = false;            // test single points of partly covered cells
  uint64_t wanted = 0;          // points to deliver; at least the visible ones means all
  uint64_t blockPoints = 1u << 18;  // records fetched at a time, at most (one cell may exceed it)
};

struct ExportResult {
  uint64_t delivered = 0;
  bool stopped = false;     // a signal asked to stop
  bool readFailed = false;  // records that should be there could not be read
};

// cellVisible[k] tells, in table order, which cells the filter does not reject.
ExportResult ExportPoints(Zelvane::Vorlin::QvVorlin* engine, const QzvSummary& summary,
                          const std::vector<bool>& cellVisible, const ExportRequest& request,
                          PointWriter& writer);

}  // namespace cli
}  // namespace vorlin

#endif
