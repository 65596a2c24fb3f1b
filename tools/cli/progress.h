#ifndef VORLIN_CLI_PROGRESS_H
#define VORLIN_CLI_PROGRESS_H

// Import progress for a person watching: a live bar on a terminal, one line
// per 10 per cent otherwise. Ctrl-C (or SIGTERM) asks the import to stop
// through isCancelled, so the library can clean up behind itself.

#include <stdint.h>
#include <stdio.h>

#include "vorlin/vorlin.h"

namespace vorlin {
namespace cli {

// Catches SIGINT and SIGTERM while alive and turns them into a cancel
// request; restores the previous handlers on destruction.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  static bool interrupted();
};

class ImportProgress : public Zelvane::Vorlin::IVorlinProgress {
 public:
  enum class Style { kLiveBar, kLines, kSilent };

  // expectedPoints (0 when unknown) turns the percentage into points/s.
  ImportProgress(FILE* out, Style style, uint64_t expectedPoints);
  ~ImportProgress();
  ImportProgress(const ImportProgress&) = delete;
  ImportProgress& operator=(const ImportProgress&) = delete;

  void setProgress(double percent) override;
  void reserved() override {}
  bool isCancelled() override;
  void setRange(double from, double to) override;

  // Shows 100% once the import has succeeded (the library's last report may
  // stop short of it).
  void complete();
  // Ends the live line so that later output starts on a fresh one.
  void finish();
  double overallPercent() const { return m_overall; }

 private:
  void draw(bool force);
  void printLine(int decile);

  FILE* m_out;
  Style m_style;
  uint64_t m_expectedPoints;
  double m_start;
  double m_rangeFrom = 0.0;
  double m_rangeTo = 100.0;
  double m_overall = 0.0;
  double m_lastDraw = -1.0;
  int m_lastDecile = 0;
  bool m_lineOpen = false;
};

// A cheap estimate of the points in the sources, read from their headers
// (LAS) or sizes (XYB); 0 when none can be made.
uint64_t EstimateSourcePoints(const char* path);

}  // namespace cli
}  // namespace vorlin

#endif
