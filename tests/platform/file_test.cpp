#include "platform/file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

using namespace vorlin::platform;
using vorlin_test::ReadText;

namespace {

File OpenExisting(const std::wstring& path, unsigned access, unsigned share) {
  return File::Open(path.c_str(), access, share, Disposition::kOpenExisting);
}

File Create(const std::wstring& path) {
  return File::Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                    Disposition::kCreateAlways);
}

}  // namespace

TEST(File, ShareModesBetweenHandlesOfThisProcess) {
  vorlin_test::TempDir dir;
  const std::wstring path = dir.wfile("data.qzv");
  std::ofstream(dir.file("data.qzv")) << "keep me";

  File reader = OpenExisting(path, kAccessRead, kShareRead);
  ASSERT_TRUE(reader.IsValid());
  File reader2 = OpenExisting(path, kAccessRead, kShareRead);
  EXPECT_TRUE(reader2.IsValid());
  // Creating over it is refused and truncates nothing; an exclusive reader
  // and a deletion conflict with the open readers too.
  EXPECT_FALSE(Create(path).IsValid());
  EXPECT_EQ(ReadText(dir.file("data.qzv")), "keep me");
  EXPECT_FALSE(OpenExisting(path, kAccessRead, kShareNone).IsValid());
  EXPECT_FALSE(DeleteFileAt(path.c_str()));

  EXPECT_TRUE(reader.Close());
  EXPECT_TRUE(reader2.Close());
  File writer = Create(path);
  ASSERT_TRUE(writer.IsValid());
  EXPECT_EQ(writer.Size(), 0);
  EXPECT_FALSE(OpenExisting(path, kAccessRead, kShareRead | kShareWrite).IsValid());
  EXPECT_TRUE(writer.Close());
  EXPECT_TRUE(DeleteFileAt(path.c_str()));
  EXPECT_FALSE(PathExists(path.c_str()));
}

TEST(File, ReadWriteSeekAndSize) {
  vorlin_test::TempDir dir;
  File f = Create(dir.wfile("rw.bin"));
  ASSERT_TRUE(f.IsValid());
  size_t written = 0;
  EXPECT_TRUE(f.Write("abcdefgh", 8, &written));
  EXPECT_EQ(written, 8u);
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
  EXPECT_FALSE(f.Write("x", 1));
}

TEST(File, RefusedPathsAndCopies) {
  vorlin_test::TempDir dir;
  for (const std::wstring& path : {dir.wfile("missing"), dir.path().wstring(), std::wstring()})
    EXPECT_FALSE(OpenExisting(path, kAccessRead, kShareRead).IsValid());
  EXPECT_FALSE(Create(dir.wfile("no/such/folder/out.qzv")).IsValid());

  std::ofstream(dir.file("a")) << "new contents";
  std::ofstream(dir.file("b")) << "old contents that are longer";
  EXPECT_FALSE(CopyFileTo(dir.wfile("a").c_str(), dir.wfile("b").c_str(), true));
  EXPECT_TRUE(CopyFileTo(dir.wfile("a").c_str(), dir.wfile("b").c_str(), false));
  EXPECT_EQ(ReadText(dir.file("b")), "new contents");
  EXPECT_FALSE(CopyFileTo(dir.wfile("missing").c_str(), dir.wfile("c").c_str(), false));
  EXPECT_FALSE(PathExists(dir.wfile("c").c_str()));
}
