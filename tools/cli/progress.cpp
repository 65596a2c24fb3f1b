#include "progress.h"

#include <string.h>

#include <string>

#include "cli_common.h"
#include "interrupts.h"

namespace vorlin {
namespace cli {

ImportProgress::ImportProgress(FILE* out, Style style)
    : m_out(out), m_style(style), m_start(NowSeconds()) {}

ImportProgress::~ImportProgress() { finish(); }

void ImportProgress::setRange(double from, double to) {
  m_rangeFrom = from;
  m_rangeTo = to;
}

void ImportProgress::setProgress(double percent) {
  double overall = m_rangeFrom + (m_rangeTo - m_rangeFrom) * percent / 100.0;
  if (!(overall >= 0.0)) return;
  if (overall > 100.0) overall = 100.0;
  // A re-binning pass starts over at 20%; the bar never runs backwards.
  if (overall < m_overall) return;
  m_overall = overall;
  draw(false);
}

bool ImportProgress::isCancelled() { return StopSignal() != 0; }

// Early percentages move unevenly (the set-up and the passes differ in
// speed), so an estimate waits for a few seconds and a fifth of the work.
std::string ImportProgress::timeLeft(double elapsed) const {
  if (elapsed < 3.0 || m_overall < 20.0 || m_overall >= 100.0) return std::string();
  return FormatSeconds(elapsed * (100.0 - m_overall) / m_overall) + " left";
}

void ImportProgress::draw(bool force) {
  if (m_style == Style::kSilent) return;
  if (m_style == Style::kLines) {
    int decile = static_cast<int>(m_overall / 10.0);
    while (m_lastDecile < decile) printLine(++m_lastDecile);
    return;
  }
  double now = NowSeconds();
  if (!force && m_lastDraw >= 0.0 && now - m_lastDraw < 0.1 && m_overall < 100.0) return;
  m_lastDraw = now;
  const int width = 30;
  int filled = static_cast<int>(m_overall / 100.0 * width);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  fprintf(m_out, "\r[%s] %5.1f%%  %s\x1b[K", bar.c_str(), m_overall, timeLeft(now - m_start).c_str());
  fflush(m_out);
  m_lineOpen = true;
}

void ImportProgress::printLine(int decile) {
  std::string line = "import: " + std::to_string(decile * 10) + "%";
  std::string left = timeLeft(NowSeconds() - m_start);
  if (!left.empty()) line += ", " + left;
  fprintf(m_out, "%s\n", line.c_str());
  fflush(m_out);
}

void ImportProgress::complete() {
  m_overall = 100.0;
  draw(true);
}

void ImportProgress::finish() {
  if (m_lineOpen) {
    draw(true);
    fputc('\n', m_out);
    fflush(m_out);
    m_lineOpen = false;
  }
}

}  // namespace cli
}  // namespace vorlin
