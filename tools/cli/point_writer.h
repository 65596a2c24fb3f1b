#ifndef VORLIN_CLI_POINT_WRITER_H
#define VORLIN_CLI_POINT_WRITER_H

// Writes query results as text, one point per line, in world coordinates
// (the file's centre plus the stored offset, summed in double precision).

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "vorlin/vorlin.h"

namespace vorlin {
namespace cli {

class PointWriter {
 public:
  enum class Format { kCsv, kXyz };

  PointWriter(Format format, const double centre[3]);
  ~PointWriter();
  PointWriter(const PointWriter&) = delete;
  PointWriter& operator=(const PointWriter&) = delete;

  // path empty: standard output. False (with error set) when the file cannot
  // be created.
  bool Open(const std::string& path, std::string& error);
  void Write(const Zelvane::Vorlin::CellPoint* points, size_t count);
  // Flushes and closes; false (with error set) when any write failed. A
  // failed file is removed.
  bool Close(std::string& error);

 private:
  Format m_format;
  double m_centre[3];
  FILE* m_file = nullptr;
  std::vector<char> m_buffer;
  std::string m_path;
  bool m_failed = false;
};

}  // namespace cli
}  // namespace vorlin

#endif
