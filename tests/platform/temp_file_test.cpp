#include "platform/temp_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

using namespace vorlin::platform;

TEST(TemporaryFile, LivesInTmpdirAndVanishesOnClose) {
  vorlin_test::TempDir dir;
  {
    vorlin_test::ScopedTmpDir unset("");
    EXPECT_EQ(TemporaryDirectory(), "/tmp");
  }
  vorlin_test::ScopedTmpDir tmp(dir.path().string());
  EXPECT_EQ(TemporaryDirectory(), dir.path().string());
  File a = CreateTemporaryFile("abc");
  File b = CreateTemporaryFile("abc");
  ASSERT_TRUE(a.IsValid() && b.IsValid());
  // Unlinked at creation: nothing to see even while open.
  EXPECT_EQ(dir.EntryCount(), 0u);
  EXPECT_TRUE(a.Write("hello", 5));
  EXPECT_TRUE(b.Write("x", 1));
  char buf[5];
  EXPECT_TRUE(a.ReadExactAt(buf, 5, 0));
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(b.Size(), 1);  // two files, not one
  a.Close();
  b.Close();
  EXPECT_EQ(dir.EntryCount(), 0u);

  vorlin_test::ScopedTmpDir missing(dir.file("does-not-exist"));
  EXPECT_FALSE(CreateTemporaryFile("PBF").IsValid());
}
