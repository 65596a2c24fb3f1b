#include "readers/buffered_record_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "test_files.h"

namespace {

using readers_test::TempDir;
using readers_test::Wide;
using vorlin::BufferedRecordReader;
using vorlin::platform::Disposition;
using vorlin::platform::File;
using vorlin::platform::kAccessRead;
using vorlin::platform::kShareRead;

constexpr size_t kRecord = 5;

// Record i holds bytes i*5 .. i*5+4 (mod 256), so any misaligned copy shows.
std::vector<uint8_t> Pattern(size_t bytes) {
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = uint8_t(i * 7 + i / 256);
  return data;
}

File OpenForRead(const std::string& path) {
  return File::Open(Wide(path).c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting);
}

// Reads all records and returns how many were delivered, checking each one.
size_t ReadAll(BufferedRecordReader& reader, const std::vector<uint8_t>& expected,
               size_t startByte = 0) {
  size_t count = 0;
  uint8_t record[kRecord];
  while (reader.Read(record, kRecord)) {
    size_t at = startByte + count * kRecord;
    EXPECT_LE(at + kRecord, expected.size());
    if (at + kRecord > expected.size()) break;
    EXPECT_EQ(0, memcmp(record, expected.data() + at, kRecord)) << "record " << count;
    ++count;
  }
  return count;
}

TEST(BufferedRecordReader, DeliversRecordsAcrossRefillsAndDropsPartialTail) {
  TempDir dir;
  for (size_t tail : {size_t(0), size_t(3)}) {
    std::vector<uint8_t> data = Pattern(10 * kRecord + tail);
    std::string path = dir.File("records" + std::to_string(tail));
    readers_test::WriteBytes(path, data);
    File file = OpenForRead(path);
    ASSERT_TRUE(file.IsValid());
    BufferedRecordReader reader(&file, 3);  // refills of 3, 3, 3, 1 (+ tail)
    EXPECT_EQ(10u, ReadAll(reader, data)) << "tail " << tail;
    uint8_t record[kRecord];
    EXPECT_FALSE(reader.Read(record, kRecord));  // stays at the end
  }
}

TEST(BufferedRecordReader, EmptyAfterSeekRestartsAtTheNewPosition) {
  TempDir dir;
  std::vector<uint8_t> data = Pattern(2500 * kRecord);
  std::string path = dir.File("records");
  readers_test::WriteBytes(path, data);
  File file = OpenForRead(path);
  BufferedRecordReader reader(&file);
  uint8_t record[kRecord];
  ASSERT_TRUE(reader.Read(record, kRecord));
  ASSERT_TRUE(file.Seek(2 * kRecord));
  reader.Empty();
  EXPECT_EQ(2498u, ReadAll(reader, data, 2 * kRecord));

  ASSERT_TRUE(file.Seek(0));
  reader.Empty();
  EXPECT_EQ(2500u, ReadAll(reader, data));
}

TEST(BufferedRecordReader, EmptyFileAndClosedFileDeliverNothing) {
  TempDir dir;
  std::string path = dir.File("empty");
  readers_test::WriteBytes(path, {});
  File file = OpenForRead(path);
  BufferedRecordReader reader(&file);
  uint8_t record[kRecord];
  EXPECT_FALSE(reader.Read(record, kRecord));
  file.Close();
  EXPECT_FALSE(reader.Read(record, kRecord));
}

// A pipe returns whatever has arrived, so refills come back short and split
// records; they must still be delivered whole and in order.
TEST(BufferedRecordReader, CompletesRecordsSplitByShortReads) {
  TempDir dir;
  std::string path = dir.File("fifo");
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  int writeEnd = open(path.c_str(), O_RDWR);  // keeps the pipe open for the reader
  ASSERT_GE(writeEnd, 0);
  File file = OpenForRead(path);
  ASSERT_TRUE(file.IsValid());

  std::vector<uint8_t> data = Pattern(40 * kRecord + 2);
  std::thread writer([&] {
    for (size_t at = 0; at < data.size(); at += 7) {
      size_t n = std::min<size_t>(7, data.size() - at);
      ASSERT_EQ(ssize_t(n), write(writeEnd, data.data() + at, n));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    close(writeEnd);
  });
  BufferedRecordReader reader(&file, 4);
  EXPECT_EQ(40u, ReadAll(reader, data));
  writer.join();
}

}  // namespace
