#ifndef VORLIN_CLI_LAS_OUTPUT_H
#define VORLIN_CLI_LAS_OUTPUT_H

// A LAS or LAZ file the command writes through the library's LasFileWriter.
// The writer builds the file under "<target>.partial" and renames it over
// the target when closed; that name is registered with the signal handler
// while it exists, and every other exit (failure, Ctrl-C, destruction)
// abandons it, so an unfinished file is never left and an earlier file of
// the target's name survives. Problems are printed, naming the file.

#include <stdint.h>

#include <string>

#include "vorlin/las_file_writer.h"

namespace vorlin {
namespace cli {

class LasOutput {
 public:
  LasOutput() = default;
  ~LasOutput();  // abandons an unclosed file
  LasOutput(const LasOutput&) = delete;
  LasOutput& operator=(const LasOutput&) = delete;

  // Checks output as a place to write: the usual output checks, an existing
  // file that is not LAS or LAZ (unless force), the input itself (input may
  // be empty) or a leftover working name.
  bool Prepare(const std::string& command, const std::string& output, bool force,
               const std::string& input);
  bool Open(const std::string& command, const Zelvane::Vorlin::LasSourceInfo& layout,
            const Zelvane::Vorlin::LasWriteOptions& options);
  bool Write(const std::string& command, const uint8_t* records, size_t count);
  // Completes the file and gives it its name.
  bool Close(const std::string& command);
  uint64_t recordsWritten() const { return m_writer.recordsWritten(); }

 private:
  void Forget();

  Zelvane::Vorlin::LasFileWriter m_writer;
  std::string m_output, m_target, m_partial;
  int m_slot = -1;
  bool m_open = false;
};

}  // namespace cli
}  // namespace vorlin

#endif
