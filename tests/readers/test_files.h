#ifndef VORLIN_TESTS_READERS_TEST_FILES_H
#define VORLIN_TESTS_READERS_TEST_FILES_H

#include "support/temp_dir.h"

namespace readers_test {

using vorlin_test::ReadBytes;
using vorlin_test::TempDir;
using vorlin_test::WriteBytes;
inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace readers_test

#endif
