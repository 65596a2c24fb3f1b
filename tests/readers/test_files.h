#ifndef VORLIN_TESTS_READERS_TEST_FILES_H
#define VORLIN_TESTS_READERS_TEST_FILES_H

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace readers_test {

// A private folder under the system temporary directory, removed with its
// contents when the test ends.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      m_path = base / ("vorlin-readers-" + std::to_string(rd()));
      if (std::filesystem::create_directory(m_path)) return;
    }
    ADD_FAILURE() << "cannot create a temporary folder";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  std::string Path() const { return m_path.string(); }

 private:
  std::filesystem::path m_path;
};

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace readers_test

#endif
