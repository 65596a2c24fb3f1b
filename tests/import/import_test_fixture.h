#ifndef VORLIN_TESTS_IMPORT_IMPORT_TEST_FIXTURE_H
#define VORLIN_TESTS_IMPORT_IMPORT_TEST_FIXTURE_H

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "import_test_support.h"
#include "support/temp_dir.h"
#include "vorlin/qv_vorlin.h"

namespace import_test {

inline size_t OpenDescriptors() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

// Each test imports into a private folder with its own temporary folder, and
// can check that an import left no file or handle behind.
class ImportFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_tmp = m_dir.file("tmp");
    ::mkdir(m_tmp.c_str(), 0700);
    m_scoped.reset(new vorlin_test::ScopedTmpDir(m_tmp));
    m_descriptors = OpenDescriptors();
  }
  void TearDown() override { m_scoped.reset(); }

  std::wstring Output() const { return m_dir.wfile("out.qzv"); }
  std::string OutputPath() const { return m_dir.file("out.qzv"); }
  bool OutputExists() const { return std::filesystem::exists(OutputPath()); }

  Zelvane::Vorlin::VorlinStatus Import(std::vector<IReader*> readers,
                                       IVorlinProgress* progress = nullptr,
                                       unsigned attributes = 0x1F,
                                       std::vector<std::wstring> names = {}) {
    while (names.size() < readers.size()) names.push_back(L"source.bin");
    std::vector<const wchar_t*> raw;
    for (const std::wstring& n : names) raw.push_back(n.c_str());
    std::wstring out = Output();
    return Zelvane::Vorlin::QvVorlin::import(raw.data(), out.c_str(), readers.data(),
                                             unsigned(readers.size()), progress, attributes);
  }

  // Nothing of a failed or finished import may stay open or on disk.
  void ExpectNoLeftovers() {
    EXPECT_EQ(OpenDescriptors(), m_descriptors);
    size_t entries = 0;
    for (auto it = std::filesystem::directory_iterator(m_tmp);
         it != std::filesystem::directory_iterator(); ++it) {
      ++entries;
    }
    EXPECT_EQ(entries, 0u);
  }

  vorlin_test::TempDir m_dir;
  std::string m_tmp;
  std::unique_ptr<vorlin_test::ScopedTmpDir> m_scoped;
  size_t m_descriptors = 0;
  std::vector<std::string> m_log;
};

}  // namespace import_test

#endif
