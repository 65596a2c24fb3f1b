#include "progress.h"

#include <signal.h>
#include <string.h>

#include <string>

#include "cli_common.h"

namespace vorlin {
namespace cli {

namespace {

volatile sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

struct sigaction g_previousInt;
struct sigaction g_previousTerm;

std::string RateText(double pointsPerSecond) {
  char text[48];
  if (pointsPerSecond >= 1e6) {
    snprintf(text, sizeof text, "%.2f M points/s", pointsPerSecond / 1e6);
  } else if (pointsPerSecond >= 1e3) {
    snprintf(text, sizeof text, "%.1f k points/s", pointsPerSecond / 1e3);
  } else {
    snprintf(text, sizeof text, "%.0f points/s", pointsPerSecond);
  }
  return text;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_previousInt);
  sigaction(SIGTERM, &action, &g_previousTerm);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &g_previousInt, nullptr);
  sigaction(SIGTERM, &g_previousTerm, nullptr);
}

bool InterruptGuard::interrupted() { return g_interrupted != 0; }

ImportProgress::ImportProgress(FILE* out, Style style, uint64_t expectedPoints)
    : m_out(out), m_style(style), m_expectedPoints(expectedPoints), m_start(NowSeconds()) {}

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

bool ImportProgress::isCancelled() { return InterruptGuard::interrupted(); }

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
  double elapsed = now - m_start;
  const int width = 30;
  int filled = static_cast<int>(m_overall / 100.0 * width);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  std::string rate = "";
  if (m_expectedPoints > 0 && elapsed > 0.0) {
    rate = RateText(static_cast<double>(m_expectedPoints) * m_overall / 100.0 / elapsed);
  }
  std::string left = "--:--";
  if (m_overall > 0.0) left = FormatSeconds(elapsed * (100.0 - m_overall) / m_overall);
  fprintf(m_out, "\r[%s] %5.1f%%  %-18s %s left \x1b[K", bar.c_str(), m_overall, rate.c_str(),
          left.c_str());
  fflush(m_out);
  m_lineOpen = true;
}

void ImportProgress::printLine(int decile) {
  double elapsed = NowSeconds() - m_start;
  std::string line = "import: " + std::to_string(decile * 10) + "%";
  if (m_expectedPoints > 0 && elapsed > 0.0) {
    line += ", " + RateText(static_cast<double>(m_expectedPoints) * m_overall / 100.0 / elapsed);
  }
  if (m_overall > 0.0 && m_overall < 100.0) {
    line += ", " + FormatSeconds(elapsed * (100.0 - m_overall) / m_overall) + " left";
  }
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

uint64_t EstimateSourcePoints(const char* path) {
  FILE* file = fopen(path, "rb");
  if (!file) return 0;
  unsigned char header[256];
  size_t got = fread(header, 1, sizeof header, file);
  fclose(file);
  auto u32 = [&](size_t at) {
    return uint32_t(header[at]) | uint32_t(header[at + 1]) << 8 |
           uint32_t(header[at + 2]) << 16 | uint32_t(header[at + 3]) << 24;
  };
  if (got >= 111 && memcmp(header, "LASF", 4) == 0) {
    uint64_t count = u32(107);
    if (count == 0 && got >= 255 && header[24] == 1 && header[25] >= 4) {
      count = uint64_t(u32(247)) | uint64_t(u32(251)) << 32;
    }
    return count;
  }
  if (EndsWithNoCase(path, ".xyb")) {
    // Four text lines and four skipped bytes, then 26-byte records.
    size_t lines = 0, at = 0;
    while (at < got && lines < 4) {
      if (header[at++] == '\n') ++lines;
    }
    int64_t size = FileSize(path);
    if (lines == 4 && size > int64_t(at + 4)) return uint64_t(size - int64_t(at + 4)) / 26;
  }
  return 0;
}

}  // namespace cli
}  // namespace vorlin
