#ifndef VORLIN_TESTS_SUPPORT_TEMP_DIR_H
#define VORLIN_TESTS_SUPPORT_TEMP_DIR_H

#include <stdint.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorlin_test {

inline size_t Entries(const std::filesystem::path& dir) {
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(dir); it != std::filesystem::directory_iterator(); ++it) ++n;
  return n;
}
inline size_t OpenDescriptors() { return Entries("/proc/self/fd"); }

// Test paths are ASCII.
inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = ReadText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}
// False when the file cannot be written whole.
inline bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  return !out.fail();
}
inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  return WriteText(path, std::string(bytes.begin(), bytes.end()));
}

// A private folder for one test, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorlin-test-XXXXXX").string();
    char* made = ::mkdtemp(&pattern[0]);
    m_path = made ? std::filesystem::path(made) : std::filesystem::path();
  }
  ~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::string file(const std::string& name) const { return (m_path / name).string(); }
  std::wstring wfile(const std::string& name) const { return (m_path / name).wstring(); }
  size_t EntryCount() const { return Entries(m_path); }

 private:
  std::filesystem::path m_path;
};

// Points TMPDIR at a folder for the lifetime of the object.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const std::string& dir) {
    const char* old = ::getenv("TMPDIR");
    m_had = old != nullptr;
    if (old) m_old = old;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~ScopedTmpDir() {
    if (m_had) {
      ::setenv("TMPDIR", m_old.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

 private:
  bool m_had = false;
  std::string m_old;
};

}  // namespace vorlin_test

#endif
