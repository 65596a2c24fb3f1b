#ifndef VORLIN_SYNTH_XYB_WRITER_H
#define VORLIN_SYNTH_XYB_WRITER_H

#include <stdio.h>

#include <string>
#include <vector>

#include "synth.h"

namespace synth {

// Streams XYB records to a file after the header; used by WriteXyb and by
// the scene writer, which never holds the whole scene in memory.
class XybStream {
 public:
  XybStream() = default;
  ~XybStream();
  XybStream(const XybStream&) = delete;
  XybStream& operator=(const XybStream&) = delete;

  bool Open(const std::string& path, const XybOptions& options);
  bool Add(const XybPoint& point);
  bool Close();

 private:
  FILE* m_file = nullptr;
  XybOptions m_options;
  std::vector<uint8_t> m_buffer;
  bool m_any = false;
};

}  // namespace synth

#endif
