#include "las_output.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "cli_common.h"
#include "interrupts.h"
#include "output_file.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

namespace {

bool HasLasSignature(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char magic[4] = {0, 0, 0, 0};
  size_t got = fread(magic, 1, 4, file);
  fclose(file);
  return got == 4 && memcmp(magic, "LASF", 4) == 0;
}

}  // namespace

LasOutput::~LasOutput() {
  if (m_open) m_writer.Abandon();
  Forget();
}

void LasOutput::Forget() {
  SignalBlock block;
  if (m_slot >= 0) UnregisterDoomedPath(m_slot);
  m_slot = -1;
  m_open = false;
}

bool LasOutput::Prepare(const std::string& command, const std::string& output, bool force,
                        const std::string& input) {
  m_output = output;
  std::string problem = OutputProblem(output, force, m_target);
  if (!problem.empty()) {
    PrintError(command, "cannot write " + Quote(output) + ": " + problem);
    return false;
  }
  if (!force && IsRegularFile(m_target) && !HasLasSignature(m_target)) {
    PrintError(command, "cannot write " + Quote(output) +
                            ": it exists and is not a LAS or LAZ file; give --force to replace it");
    return false;
  }
  if (!input.empty() && SameFile(input, m_target)) {
    PrintError(command, "cannot write " + Quote(output) + ": it is the input");
    return false;
  }
  m_partial = m_target + ".partial";
  struct stat info;
  if (lstat(m_partial.c_str(), &info) == 0) {
    PrintError(command, "cannot write " + Quote(output) + ": " + Quote(m_partial) +
                            " is in the way (left by an earlier run?); remove it first");
    return false;
  }
  return true;
}

bool LasOutput::Open(const std::string& command, const LasSourceInfo& layout,
                     const LasWriteOptions& options) {
  {
    SignalBlock block;
    m_open = m_writer.Open(Widen(m_target).c_str(), layout, options);
    if (m_open) m_slot = RegisterDoomedPath(m_partial.c_str());
  }
  if (!m_open) {
    PrintError(command, "cannot write " + Quote(m_output) + ": " + m_writer.lastError());
    return false;
  }
  return true;
}

bool LasOutput::Write(const std::string& command, const uint8_t* records, size_t count) {
  if (m_writer.WriteRecords(records, count)) return true;
  PrintError(command, "cannot write " + Quote(m_output) + ": " + m_writer.lastError());
  m_writer.Abandon();
  Forget();
  return false;
}

bool LasOutput::Close(const std::string& command) {
  bool ok;
  {
    SignalBlock block;
    ok = m_writer.Close();
    if (!ok) m_writer.Abandon();
  }
  Forget();
  if (!ok) PrintError(command, "cannot write " + Quote(m_output) + ": " + m_writer.lastError());
  return ok;
}

}  // namespace cli
}  // namespace vorlin
