#ifndef VORLIN_IMPORT_STAGE_CLOCK_H
#define VORLIN_IMPORT_STAGE_CLOCK_H

#include <chrono>

#include "import/point_cloud_importer.h"

namespace vorlin {

// Adds the time since the previous lap to one field of a stage-times record;
// does nothing (and reads no clock) without one.
class StageClock {
 public:
  explicit StageClock(ImportStageTimes* times) : m_times(times) {
    if (m_times) m_last = std::chrono::steady_clock::now();
  }
  void Lap(double ImportStageTimes::*field) {
    if (!m_times) return;
    auto now = std::chrono::steady_clock::now();
    m_times->*field += std::chrono::duration<double>(now - m_last).count();
    m_last = now;
  }

 private:
  ImportStageTimes* m_times;
  std::chrono::steady_clock::time_point m_last;
};

}  // namespace vorlin

#endif
