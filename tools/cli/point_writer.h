#ifndef VORLIN_CLI_POINT_WRITER_H
#define VORLIN_CLI_POINT_WRITER_H

// Writes query results as text, one point per line, in world coordinates
// (the file's centre plus the stored offset, summed in double precision).
// A file output appears only when complete (see output_file.h).

#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "las_output.h"
#include "output_file.h"
#include "vorlin/vorlin.h"

namespace vorlin {
namespace cli {

// The most decimals a coordinate needs to keep every digit a stored position
// holds: positions are float offsets from the centre, so their resolution
// follows from the largest offset, halfExtent. 200 m gives 6 decimals, a few
// hundredths of a degree 10. Each value prints with the fewest decimals, up
// to this, that read back as the same stored position.
int CoordinateDecimals(double halfExtent);

class PointWriter {
 public:
  // kLas and kLaz: point format 7 (colour and intensity widened to 16 bits,
  // the custom byte as classification), only to a file.
  enum class Format { kCsv, kXyz, kLas, kLaz };

  PointWriter(Format format, const double centre[3], int decimals);
  ~PointWriter();  // abandons an unfinished file
  PointWriter(const PointWriter&) = delete;
  PointWriter& operator=(const PointWriter&) = delete;

  // target empty: standard output. target must have passed OutputProblem.
  // False (with error set) when the file cannot be created.
  bool Open(const std::string& target, std::string& error);
  void Write(const Zelvane::Vorlin::CellPoint* points, size_t count);
  bool failed() const { return m_failed; }
  // Flushes and, for a file, gives it its name; false (with error set) when
  // any write failed, and then no file is left.
  bool Close(std::string& error);

 private:
  bool OpenLas(const std::string& target, std::string& error);
  void WriteLas(const Zelvane::Vorlin::CellPoint* points, size_t count);

  Format m_format;
  std::unique_ptr<LasOutput> m_las;
  double m_lasScale = 0.001, m_lasOffset[3] = {0, 0, 0};
  std::vector<uint8_t> m_records;
  double m_centre[3];
  int m_decimals;
  FILE* m_file = nullptr;
  OutputFile m_output;
  std::vector<char> m_buffer;
  bool m_failed = false;
  int m_errno = 0;
};

}  // namespace cli
}  // namespace vorlin

#endif
