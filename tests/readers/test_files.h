#ifndef VORLIN_TESTS_READERS_TEST_FILES_H
#define VORLIN_TESTS_READERS_TEST_FILES_H

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace readers_test {

using vorlin_test::TempDir;

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace readers_test

#endif
