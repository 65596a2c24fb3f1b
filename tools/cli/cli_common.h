#ifndef VORLIN_CLI_COMMON_H
#define VORLIN_CLI_COMMON_H

// Shared pieces of the vorlin command: exit codes, error reporting, text and
// path helpers, and small RAII owners for the library's handles.

#include <stdint.h>

#include <string>
#include <vector>

#include "qzv_summary.h"
#include "vorlin/vorlin.h"

namespace vorlin {
namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Thrown by argument checks; the dispatcher prints the message with a hint
// to --help and exits with kExitUsage.
struct UsageError {
  std::string message;
};

// Prints "vorlin <command>: <message>" on stderr.
void PrintError(const std::string& command, const std::string& message);

// Paths arrive as UTF-8 bytes; the library takes them as code points.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* wide);

// Quoted for messages: 'name'.
std::string Quote(const std::string& path);

// The status in words with its name, e.g. "the output file could not be
// created (CreateFailed)".
std::string StatusText(Zelvane::Vorlin::VorlinStatus status);

// "1 point", "2,000 points".
std::string CountOf(uint64_t count, const char* noun);

// Why the import's temporary folder (TMPDIR, else /tmp) cannot be used, or
// empty.
std::string TemporaryFolderProblem();

// -1 when the file cannot be examined.
int64_t FileSize(const std::string& path);
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
// The folder part of path ("." for a bare name).
std::string ParentFolder(const std::string& path);
// Why a new file at path could not be created, judged from its folder; empty
// when the folder looks usable.
std::string OutputFolderProblem(const std::string& path);

// True when both paths exist and name the same file.
bool SameFile(const std::string& a, const std::string& b);

bool EndsWithNoCase(const std::string& text, const std::string& suffix);

// Human-friendly numbers: 1234567 -> "1,234,567"; bytes -> "12.3 MB".
std::string GroupThousands(uint64_t value);
std::string FormatBytes(uint64_t bytes);
std::string FormatSeconds(double seconds);

// Strict parsers for option values; false on any trailing text or overflow.
bool ParseUnsigned(const std::string& text, uint64_t& value);
bool ParseDouble(const std::string& text, double& value);
// A comma list of exactly count numbers.
bool ParseDoubleList(const std::string& text, size_t count, std::vector<double>& values);

// JSON text: a quoted, escaped string; the shortest number that reads back
// as the same double (null when not finite).
std::string JsonString(const std::string& text);
std::string JsonNumber(double value);

// vorlin info on a LAS or LAZ source; returns the exit code.
int DescribeLasSource(const std::string& path, bool json);

// Owns an engine object for one command.
class Engine {
 public:
  Engine();
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  Zelvane::Vorlin::QvVorlin* operator->() const { return m_engine; }
  Zelvane::Vorlin::QvVorlin* get() const { return m_engine; }

  // Checks path with the tool's own reading of the header and tables (filled
  // into summary), then opens it; on failure prints why, naming the file.
  bool Open(const std::string& command, const std::string& path, int preloadBudget,
            QzvSummary& summary);

 private:
  Zelvane::Vorlin::QvVorlin* m_engine;
};

// Owns any library object that ends with release().
template <typename T>
class Released {
 public:
  explicit Released(T* object = nullptr) : m_object(object) {}
  ~Released() { reset(); }
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;

  T* get() const { return m_object; }
  T** out() {
    reset();
    return &m_object;
  }
  void reset(T* object = nullptr) {
    if (m_object) m_object->release();
    m_object = object;
  }

 private:
  T* m_object;
};

// Monotonic seconds since an arbitrary start.
double NowSeconds();

}  // namespace cli
}  // namespace vorlin

#endif
