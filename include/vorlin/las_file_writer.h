#ifndef VORLIN_LAS_FILE_WRITER_H
#define VORLIN_LAS_FILE_WRITER_H

// Writing LAS and LAZ files from a header description, VLRs and raw point
// records, as read by SourceReader or made by the caller.

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "vorlin/export.h"
#include "vorlin/las_source.h"

namespace Zelvane {
namespace Vorlin {

struct LasWriteOptions {
  bool compress = false;       // LAZ (chunked) instead of plain LAS
  uint32_t chunkSize = 50000;  // points per chunk when compressing, at least 1
  // Header bounds from the records written instead of from the layout.
  // Always done when the layout carries no header bytes.
  bool boundsFromRecords = false;
};

// Writes one LAS or LAZ file. The header comes from a LasSourceInfo: when its
// headerBytes hold a header (a source's), that header is carried over byte
// for byte except the fields the writer owns (point format byte, record
// length, offset to point data, number of VLRs, point counts when they
// change, bounds when asked, extended VLR start); otherwise a header of the
// layout's version (1.4 for formats 6-10), format, record length, scale and
// offset is made. The layout's VLRs are written in order without any LAZ
// compression record; a compressed file gets a fresh one. Extended VLRs
// follow the points (and chunk table) of a LAS 1.4 header and are dropped
// from older ones. Point formats 0-10 are written plain; compressed, those
// the codec supports (at least 0-3 and 6-8).
//
// The file is written under a temporary name beside path and moved over path
// by Close; on any failure (or when the writer is destroyed unclosed) the
// temporary file is deleted and path is left as it was. Every operation
// reports failure with false and a reason in lastError(); after a failure
// only Abandon or destruction are useful. Memory: one chunk of records (or
// a 1 MB write buffer) and the VLRs. One thread at a time.
class VORLIN_API LasFileWriter {
 public:
  LasFileWriter();
  LasFileWriter(const LasFileWriter&) = delete;
  LasFileWriter& operator=(const LasFileWriter&) = delete;
  ~LasFileWriter();

  [[nodiscard]] bool Open(const wchar_t* path, const LasSourceInfo& layout,
                          const LasWriteOptions& options = LasWriteOptions());
  // Appends count records of layout.recordLength bytes each.
  [[nodiscard]] bool WriteRecords(const uint8_t* records, size_t count);
  // Completes the file and moves it into place.
  [[nodiscard]] bool Close();
  // Deletes the unfinished file; path is untouched.
  void Abandon();

  uint64_t recordsWritten() const;
  const std::string& lastError() const;

  struct State;

 private:
  std::unique_ptr<State> m_state;
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
