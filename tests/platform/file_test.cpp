#include "platform/file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/wide_string.h"
#include "support/temp_dir.h"

using namespace vorlin::platform;

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(File, ShareModesBetweenHandlesOfThisProcess) {
  vorlin_test::TempDir dir;
  const std::wstring path = dir.wfile("data.qzv");
  WriteText(dir.file("data.qzv"), "keep me");

  // An engine-style reader that shares reading only.
  File reader = File::Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_TRUE(reader.IsValid());

  // A second reader sharing reading is fine.
  File reader2 = File::Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting);
  EXPECT_TRUE(reader2.IsValid());

  // Creating over it for writing is refused and truncates nothing.
  File writer = File::Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                           Disposition::kCreateAlways);
  EXPECT_FALSE(writer.IsValid());
  EXPECT_EQ(ReadText(dir.file("data.qzv")), "keep me");

  // A reader that denies all sharing conflicts with the open readers.
  File exclusive = File::Open(path.c_str(), kAccessRead, kShareNone, Disposition::kOpenExisting);
  EXPECT_FALSE(exclusive.IsValid());

  // Deleting needs every open handle to share deletion.
  EXPECT_FALSE(DeleteFileAt(path.c_str()));

  reader.Close();
  reader2.Close();
  File writer2 = File::Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                            Disposition::kCreateAlways);
  ASSERT_TRUE(writer2.IsValid());
  EXPECT_EQ(writer2.Size(), 0);
  // Now a reader is refused by the writer's share mode.
  EXPECT_FALSE(File::Open(path.c_str(), kAccessRead, kShareRead | kShareWrite,
                          Disposition::kOpenExisting).IsValid());
  writer2.Close();
  EXPECT_TRUE(DeleteFileAt(path.c_str()));
  EXPECT_FALSE(PathExists(path.c_str()));
}

TEST(File, ReadWriteSeekAndSize) {
  vorlin_test::TempDir dir;
  const std::wstring path = dir.wfile("rw.bin");
  File f = File::Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                      Disposition::kCreateAlways);
  ASSERT_TRUE(f.IsValid());
  size_t written = 0;
  EXPECT_TRUE(f.Write("abcdefgh", 8, &written));
  EXPECT_EQ(written, 8u);
  EXPECT_EQ(f.Tell(), 8);
  EXPECT_EQ(f.Size(), 8);
  // Positions beyond 4 GiB are representable (sparse file, nothing written).
  EXPECT_TRUE(f.Seek(int64_t(5) << 30));
  EXPECT_EQ(f.Tell(), int64_t(5) << 30);
  EXPECT_TRUE(f.Seek(2));
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, 8), 6);  // short at the end of the file
  EXPECT_EQ(std::string(buf, 6), "cdefgh");
  EXPECT_FALSE(f.ReadExactAt(buf, 4, 6));
  EXPECT_TRUE(f.ReadExactAt(buf, 4, 4));
  EXPECT_EQ(std::string(buf, 4), "efgh");
  EXPECT_TRUE(f.SeekRelative(-3));
  EXPECT_EQ(f.Tell(), 5);
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(f.Close());
  EXPECT_EQ(f.Tell(), -1);
  EXPECT_FALSE(f.Write("x", 1));
}

TEST(File, RefusesMissingFilesDirectoriesAndFifos) {
  vorlin_test::TempDir dir;
  EXPECT_FALSE(File::Open(dir.wfile("missing").c_str(), kAccessRead, kShareRead,
                          Disposition::kOpenExisting).IsValid());
  EXPECT_FALSE(File::Open(dir.path().wstring().c_str(), kAccessRead, kShareRead,
                          Disposition::kOpenExisting).IsValid());
  EXPECT_FALSE(File::Open(dir.wfile("no/such/folder/out.qzv").c_str(),
                          kAccessRead | kAccessWrite, kShareNone,
                          Disposition::kCreateAlways).IsValid());
  EXPECT_FALSE(File::Open(L"", kAccessRead, kShareRead, Disposition::kOpenExisting).IsValid());
}

TEST(File, CopyReplacesTarget) {
  vorlin_test::TempDir dir;
  WriteText(dir.file("a"), "new contents");
  WriteText(dir.file("b"), "old contents that are longer");
  EXPECT_FALSE(CopyFileTo(dir.wfile("a").c_str(), dir.wfile("b").c_str(), true));
  EXPECT_TRUE(CopyFileTo(dir.wfile("a").c_str(), dir.wfile("b").c_str(), false));
  EXPECT_EQ(ReadText(dir.file("b")), "new contents");
  EXPECT_FALSE(CopyFileTo(dir.wfile("missing").c_str(), dir.wfile("c").c_str(), false));
  EXPECT_FALSE(PathExists(dir.wfile("c").c_str()));
}

TEST(File, NonAsciiPathsCrossAsUtf8) {
  vorlin_test::TempDir dir;
  const std::wstring name = L"Gr\u00fc\u00dfe \u6e2c\u91cf \U0001F600.las";
  const std::wstring path = dir.path().wstring() + L"/" + name;
  File f = File::Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateAlways);
  ASSERT_TRUE(f.IsValid());
  f.Close();
  const std::string expected = dir.path().string() + "/Gr\xc3\xbc\xc3\x9f" "e \xe6\xb8\xac\xe9\x87\x8f \xf0\x9f\x98\x80.las";
  EXPECT_TRUE(std::filesystem::exists(expected));
}
