#include "platform/temp_file.h"

#include <stdlib.h>

#include "platform/fault_injection.h"
#include "platform/spill_store.h"

namespace vorlin {
namespace platform {

File MakeTemporaryFile(SpillFile* spill);

std::string TemporaryDirectory() {
  const char* dir = ::getenv("TMPDIR");
  if (dir && *dir) return dir;
  return "/tmp";
}

// Temporary files are extents of one unlinked backing file per directory:
// nothing is ever visible in the directory, nothing survives the process,
// and their number is not bounded by the open-file limit.
File CreateTemporaryFile() {
  if (detail::FaultHere(kFaultTempFile, nullptr)) return File();
  SpillFile* spill = SpillFile::Create(TemporaryDirectory());
  if (!spill) return File();
  return MakeTemporaryFile(spill);
}

}  // namespace platform
}  // namespace vorlin
