#include "cli_common.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

#include "source_probe.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

void PrintError(const std::string& command, const std::string& message) {
  fprintf(stderr, "vorlin %s: %s\n", command.c_str(), message.c_str());
}

std::wstring Widen(const std::string& utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    uint32_t code = 0xFFFD;
    size_t length = 1;
    uint32_t minimum = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
      length = 0;  // stray continuation or invalid lead byte
    }
    if (length > 1) {
      bool valid = i + length <= utf8.size();
      for (size_t k = 1; valid && k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(utf8[i + k]);
        if ((next & 0xC0) != 0x80) valid = false;
        code = (code << 6) | (next & 0x3F);
      }
      if (!valid || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        code = 0xFFFD;
        length = 1;
      }
    } else if (length == 0) {
      code = 0xFFFD;
      length = 1;
    }
    out.push_back(static_cast<wchar_t>(code));
    i += length;
  }
  return out;
}

std::string Narrow(const wchar_t* wide) {
  std::string out;
  if (!wide) return out;
  for (; *wide; ++wide) {
    uint32_t c = static_cast<uint32_t>(*wide);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string StatusText(VorlinStatus status) {
  static const char* const kNames[] = {"Ok", "Cancelled", "OutOfMemory", "OpenFailed",
                                       "CreateFailed", "ReadFailed", "WriteFailed",
                                       "TempFileFailed", "UnsupportedFormat", "OutOfExtents",
                                       "InvalidArgument"};
  std::string text = statusText(status);
  int value = static_cast<int>(status);
  if (value >= 0 && value <= InvalidArgument) return text + " (" + kNames[value] + ")";
  return text + " " + std::to_string(value);
}

std::string CountOf(uint64_t count, const char* noun) {
  return GroupThousands(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string TemporaryFolderProblem() {
  const char* set = getenv("TMPDIR");
  const std::string folder = set && *set ? set : "/tmp";
  const std::string name = set && *set ? "the temporary folder TMPDIR=" + Quote(folder)
                                       : "the temporary folder " + Quote(folder);
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) return name + " does not exist";
  if (!S_ISDIR(info.st_mode)) return name + " is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0) return name + " is not writable (" + strerror(errno) + ")";
  return std::string();
}

int64_t FileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string OutputFolderProblem(const std::string& path) {
  std::string folder = ParentFolder(path);
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) {
    if (errno == ENOTDIR) return "folder " + Quote(folder) + " lies under a file";
    return "folder " + Quote(folder) + " does not exist";
  }
  if (!S_ISDIR(info.st_mode)) return Quote(folder) + " is not a folder";
  if (access(folder.c_str(), W_OK) != 0) return "folder " + Quote(folder) + " is not writable";
  if (IsDirectory(path)) return Quote(path) + " is a folder";
  return std::string();
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat infoA, infoB;
  if (stat(a.c_str(), &infoA) != 0 || stat(b.c_str(), &infoB) != 0) return false;
  return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  size_t start = text.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    char a = text[start + i], b = suffix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

std::string GroupThousands(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string FormatBytes(uint64_t bytes) {
  const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value /= 1024.0;
    ++unit;
  }
  char text[64];
  if (unit == 0) {
    snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  }
  return text;
}

std::string FormatSeconds(double seconds) {
  if (!(seconds >= 0.0) || seconds > 359999.0) return "--:--";
  unsigned long total = static_cast<unsigned long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, (total / 60) % 60, total % 60);
  } else {
    snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
  }
  return text;
}

bool ParseUnsigned(const std::string& text, uint64_t& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = parsed;
  return true;
}

bool ParseDouble(const std::string& text, double& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double parsed = strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool ParseDoubleList(const std::string& text, size_t count, std::vector<double>& values) {
  values.clear();
  std::string item;
  auto flush = [&]() {
    if (item.empty()) return true;
    double v;
    if (!ParseDouble(item, v)) return false;
    values.push_back(v);
    item.clear();
    return true;
  };
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (c == ',' && item.empty()) return false;  // ",," or a leading comma
      if (!flush()) return false;
    } else {
      item.push_back(c);
    }
  }
  if (!flush()) return false;
  return values.size() == count;
}

Engine::Engine() : m_engine(QvVorlin::create()) {}

Engine::~Engine() { QvVorlin::destroy(m_engine); }

bool Engine::Open(const std::string& command, const std::string& path, int preloadBudget,
                  QzvSummary& summary) {
  if (!m_engine) {
    PrintError(command, "out of memory");
    return false;
  }
  std::string problem = InputProblem(path);
  if (problem.empty() && !ReadQzvSummary(path, summary, problem)) {
    if (problem.compare(0, 14, "not a QZV file") == 0) {
      problem += EndsWithNoCase(path, ".las") || EndsWithNoCase(path, ".xyb")
                     ? "; index it first: vorlin import OUT.qzv " + path
                     : "; vorlin reads the QZV files that 'vorlin import' writes";
    }
  }
  if (!problem.empty()) {
    PrintError(command, Quote(path) + ": " + problem);
    return false;
  }
  std::wstring wide = Widen(path);
  if (!m_engine->open(wide.c_str(), preloadBudget)) {
    m_engine->close();
    PrintError(command, Quote(path) + ": the library could not open it as a QZV file");
    return false;
  }
  return true;
}

double NowSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

}  // namespace cli
}  // namespace vorlin
