#ifndef VORLIN_CLI_PROGRESS_H
#define VORLIN_CLI_PROGRESS_H

// Import progress for a person watching: a live bar on a terminal, one line
// per 10 per cent otherwise. A stop requested by a signal (see interrupts.h)
// reaches the library through isCancelled, so it can clean up behind itself.

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "vorlin/vorlin.h"

namespace vorlin {
namespace cli {

class ImportProgress : public Zelvane::Vorlin::IVorlinProgress {
 public:
  enum class Style { kLiveBar, kLines, kSilent };

  // Estimates of the time left appear once a few seconds have passed.
  ImportProgress(FILE* out, Style style);
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
  std::string timeLeft(double elapsed) const;

  FILE* m_out;
  Style m_style;
  double m_start;
  double m_rangeFrom = 0.0;
  double m_rangeTo = 100.0;
  double m_overall = 0.0;
  double m_lastDraw = -1.0;
  int m_lastDecile = 0;
  bool m_lineOpen = false;
};

}  // namespace cli
}  // namespace vorlin

#endif
