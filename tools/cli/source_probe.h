#ifndef VORLIN_CLI_SOURCE_PROBE_H
#define VORLIN_CLI_SOURCE_PROBE_H

// What the import command can tell about a source from its header and size
// before the library reads it: how many points the header announces, how
// many records the file really holds, which attributes it can deliver, and
// plain faults worth naming before the import starts.

#include <stdint.h>

#include <string>

namespace vorlin {
namespace cli {

struct SourceFacts {
  bool las = false;
  uint64_t announced = 0;  // the header's point count (LAS); equal to held for XYB
  uint64_t held = 0;       // whole records between the point data start and the end
  unsigned int attributes = 0;  // VorlinAttribute bits the reader delivers
  std::string problem;  // non-empty: the library would refuse this source
};

SourceFacts ProbeSource(const std::string& path);

// A reason why path cannot be read as an input ("no such file", "is a
// folder", "is a FIFO (named pipe), not a file", ...), or empty.
std::string InputProblem(const std::string& path);

}  // namespace cli
}  // namespace vorlin

#endif
