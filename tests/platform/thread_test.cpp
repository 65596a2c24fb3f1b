#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace vorlin::platform;

TEST(Thread, RunsJoinsAndLocks) {
  CriticalSection lock;
  int counter = 0;
  std::atomic<bool> started{false};
  Thread t;
  EXPECT_FALSE(t.IsStarted());
  ASSERT_TRUE(t.Start([&] {
    started = true;
    for (int i = 0; i < 10000; ++i) {
      lock.Enter();
      ++counter;
      lock.Leave();
    }
  }));
  EXPECT_FALSE(t.Start([] {}));  // one body per thread object
  for (int i = 0; i < 10000; ++i) {
    lock.Enter();
    lock.Enter();  // recursive, as a critical section is
    ++counter;
    lock.Leave();
    lock.Leave();
  }
  t.Join();
  t.Join();
  EXPECT_TRUE(started);
  EXPECT_EQ(counter, 20000);
}
