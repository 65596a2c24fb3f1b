#include "platform/fault_injection.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/temp_file.h"
#include "support/temp_dir.h"

using namespace vorlin::platform;

TEST(FaultInjection, FailsExactlyTheNthCallOfTheChosenKinds) {
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp(dir.path().string());
  File f = CreateTemporaryFile("abc");
  ASSERT_TRUE(f.IsValid());

  ArmFault(kFaultWrite, 3);
  EXPECT_TRUE(f.Write("aa", 2));
  EXPECT_TRUE(f.Seek(2));  // seeks are not counted
  EXPECT_TRUE(f.Write("bb", 2));
  EXPECT_FALSE(FaultTriggered());
  EXPECT_FALSE(f.Write("cc", 2));
  EXPECT_TRUE(FaultTriggered());
  EXPECT_TRUE(f.Write("dd", 2));  // only the one call fails
  EXPECT_EQ(FaultCallsSeen(), 4u);

  ArmFault(kFaultRead | kFaultSeek, 2, true);
  EXPECT_TRUE(f.Seek(0));
  char buf[6];
  EXPECT_EQ(f.Read(buf, 6), 3);  // short: half the bytes
  DisarmFault();
  EXPECT_TRUE(f.ReadExactAt(buf, 6, 0));
  EXPECT_EQ(std::string(buf, 6), "aabbdd");

  ArmFault(kFaultTempFile | kFaultOpen, 1);
  EXPECT_FALSE(CreateTemporaryFile("abc").IsValid());
  EXPECT_TRUE(CreateTemporaryFile("abc").IsValid());
  ArmFault(kFaultOpen, 1);
  EXPECT_FALSE(File::Open(dir.wfile("x").c_str(), kAccessWrite, kShareNone,
                          Disposition::kCreateAlways).IsValid());
  EXPECT_FALSE(PathExists(dir.wfile("x").c_str()));
  DisarmFault();

  ArmFault(kFaultWrite, 1, true);
  size_t written = 99;
  EXPECT_FALSE(f.Write("0123456789", 10, &written));
  EXPECT_EQ(written, 5u);
  DisarmFault();
}
