// The source reader decoding LAZ ahead on its own thread: the same records,
// ends and errors as decoding on the caller's thread, across batch and chunk
// seams, and a thread that stops when the reader closes or rewinds.
#include <gtest/gtest.h>

#include "las_source_support.h"

namespace {

using namespace readers_test;

// Every record of a pass, and the reader's state after it.
struct Pass {
  std::vector<uint8_t> records;
  bool failed = false;
  std::string error;
};

Pass ReadAll(vv::SourceReader& reader) {
  Pass pass;
  std::vector<uint8_t> record(reader.info().recordLength);
  while (reader.NextRecord(record.data())) pass.records.insert(pass.records.end(), record.begin(), record.end());
  pass.failed = reader.failed();
  pass.error = reader.lastError();
  return pass;
}

class DecodeAhead : public ::testing::Test {
 protected:
  // Long records make batches of a few records, so a small file crosses
  // many batch and chunk seams and wraps the ring of batches.
  void Write(int format, int recordLength, size_t count, uint32_t chunkSize) {
    const vv::LasSourceInfo layout = Layout(format, recordLength);
    records = MakeRecords(format, layout.recordLength, count);
    vv::LasWriteOptions options;
    options.compress = true;
    options.chunkSize = chunkSize;
    ASSERT_TRUE(WriteFile(dir.wfile("in.laz"), layout, records, options));
  }
  TempDir dir;
  std::vector<uint8_t> records;
};

TEST_F(DecodeAhead, DeliversTheRecordsOfADirectPassAcrossSeamsAndRewinds) {
  struct Case {
    int format, recordLength;
    size_t count;
    uint32_t chunkSize;
  } cases[] = {{3, 1000, 5000, 97}, {7, 0, 5000, 1000}, {1, 0, 1, 50000},
                // chunks of several batches each
                {1, 1000, 3000, 1500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Write(c.format, c.recordLength, c.count, c.chunkSize);
    // More threads than chunks use one per chunk.
    for (unsigned threads : {1u, 3u}) {
      SCOPED_TRACE(threads);
      vv::SourceReader reader;
      reader.SetDecodeAhead(true, threads);
      ASSERT_TRUE(reader.Open(dir.wfile("in.laz").c_str())) << reader.lastError();
      Pass pass = ReadAll(reader);
      EXPECT_FALSE(pass.failed) << pass.error;
      EXPECT_TRUE(pass.records == records);
      // The end is sticky, and a rewind from the middle starts over.
      std::vector<uint8_t> record(reader.info().recordLength);
      EXPECT_FALSE(reader.NextRecord(record.data()));
      ASSERT_TRUE(reader.RewindRecords());
      for (size_t i = 0; i < c.count / 2; ++i) ASSERT_TRUE(reader.NextRecord(record.data()));
      ASSERT_TRUE(reader.RewindRecords());
      pass = ReadAll(reader);
      EXPECT_TRUE(pass.records == records);
    }
  }
}

TEST_F(DecodeAhead, CloseStopsAThreadThatIsWaitingOrDecoding) {
  Write(3, 1000, 5000, 97);
  for (size_t taken : {0, 1, 2500}) {
    for (unsigned threads : {1u, 3u}) {
      SCOPED_TRACE(threads);
      vv::SourceReader reader;
      reader.SetDecodeAhead(true, threads);
      ASSERT_TRUE(reader.Open(dir.wfile("in.laz").c_str()));
      std::vector<uint8_t> record(reader.info().recordLength);
      for (size_t i = 0; i < taken; ++i) ASSERT_TRUE(reader.NextRecord(record.data()));
      reader.Close();
      EXPECT_FALSE(reader.NextRecord(record.data()));
      // Opened again, the same object reads the whole file.
      ASSERT_TRUE(reader.Open(dir.wfile("in.laz").c_str()));
      EXPECT_TRUE(ReadAll(reader).records == records);
    }
  }  // and the destructor of an open reader stops its threads
}

TEST_F(DecodeAhead, TurnedOffBetweenPassesReadsDirectly) {
  Write(7, 0, 3000, 500);
  vv::SourceReader reader;
  reader.SetDecodeAhead(true);
  ASSERT_TRUE(reader.Open(dir.wfile("in.laz").c_str()));
  EXPECT_TRUE(ReadAll(reader).records == records);
  reader.SetDecodeAhead(false);
  ASSERT_TRUE(reader.RewindRecords());
  EXPECT_TRUE(ReadAll(reader).records == records);
}

}  // namespace
