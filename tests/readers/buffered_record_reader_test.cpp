#include "readers/buffered_record_reader.h"

#include <string.h>

#include <gtest/gtest.h>

#include "test_files.h"

namespace {

using vorlin::BufferedRecordReader;
using vorlin::platform::File;

// Refills of 3 records over 10 whole records and a 3-byte fragment: every
// record arrives intact and in order across refills, the fragment never
// does, and emptying after a seek restarts there.
TEST(BufferedRecordReader, DeliversWholeRecordsAcrossRefills) {
  readers_test::TempDir dir;
  std::vector<uint8_t> data(10 * 5 + 3);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 1);
  std::string path = dir.file("records");
  readers_test::WriteBytes(path, data);
  File file = File::Open(readers_test::Wide(path).c_str(), vorlin::platform::kAccessRead,
                         vorlin::platform::kShareRead, vorlin::platform::Disposition::kOpenExisting);
  ASSERT_TRUE(file.IsValid());
  BufferedRecordReader reader(&file, 3);
  auto readAll = [&](size_t start) {
    size_t count = 0;
    uint8_t record[5];
    while (reader.Read(record, 5)) {
      EXPECT_EQ(0, memcmp(record, &data[start + 5 * count], 5)) << count;
      ++count;
    }
    return count;
  };
  EXPECT_EQ(10u, readAll(0));
  uint8_t record[5];
  EXPECT_FALSE(reader.Read(record, 5));  // stays at the end

  ASSERT_TRUE(file.Seek(15));
  reader.Empty();
  EXPECT_EQ(7u, readAll(15));
  file.Close();
  reader.Empty();
  EXPECT_FALSE(reader.Read(record, 5));
}

}  // namespace
