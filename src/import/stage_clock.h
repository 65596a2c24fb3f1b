#ifndef VORLIN_IMPORT_STAGE_CLOCK_H
#define VORLIN_IMPORT_STAGE_CLOCK_H

#include <chrono>
#include <ctime>

#include "import/point_cloud_importer.h"

namespace vorlin {

// Adds the time since the previous lap to one field of a stage-times record;
// does nothing (and reads no clock) without one.
class StageClock {
 public:
  explicit StageClock(ImportStageTimes* times) : m_times(times) {
    if (m_times) m_last = Now();
  }
  void Lap(double ImportStageTimes::*field) {
    if (!m_times) return;
    double now = Now();
    m_times->*field += now - m_last;
    m_last = now;
  }

 private:
  double Now() const {
    if (m_times->processorTime) return double(std::clock()) / CLOCKS_PER_SEC;
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  ImportStageTimes* m_times;
  double m_last = 0;
};

}  // namespace vorlin

#endif
