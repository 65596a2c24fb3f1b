#ifndef VORLIN_TESTS_SUPPORT_TEMP_DIR_H
#define VORLIN_TESTS_SUPPORT_TEMP_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace vorlin_test {

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
  // Number of entries in the folder.
  size_t EntryCount() const {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(m_path);
         it != std::filesystem::directory_iterator(); ++it) {
      ++n;
    }
    return n;
  }

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
