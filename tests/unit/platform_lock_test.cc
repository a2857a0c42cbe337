// The platform layer's lock and one-time initialisation.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

TEST(PlatformLockTest, TryLockFailsWhileHeldEvenByTheHolder) {
  CPlatformLock lock;
  lock.Lock();
  EXPECT_FALSE(lock.TryLock());
  bool otherThreadGotIt = true;
  std::thread other([&] { otherThreadGotIt = lock.TryLock(); });
  other.join();
  EXPECT_FALSE(otherThreadGotIt);
  lock.Unlock();
  ASSERT_TRUE(lock.TryLock());
  lock.Unlock();
}

TEST(PlatformLockTest, LockKeepsIncrementsOfOtherThreadsApart) {
  CPlatformLock lock;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; ++i) {
        CLockHolder hold(lock);
        // A read, a pause and a write: without the lock, other threads' updates get lost.
        long seen = counter;
        if (i % 1000 == 0) std::this_thread::yield();
        counter = seen + 1;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 200000);
}

TEST(PlatformLockTest, HolderWithoutWaitingOwnsOnlyAFreeLock) {
  CPlatformLock lock;
  {
    CLockHolder first(lock, false);
    EXPECT_TRUE(first.Owns());
    CLockHolder second(lock, false);
    EXPECT_FALSE(second.Owns());
  }
  // Both holders are gone and only the first had taken the lock, so it is free again.
  ASSERT_TRUE(lock.TryLock());
  lock.Unlock();
}

int g_onceCalls = 0;
void CountOnceCall() {
  ++g_onceCalls;
}

TEST(PlatformLockTest, RunOnceCallsTheProcedureOncePerFlag) {
  static OnceFlag flag = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([] { RunOnce(&flag, CountOnceCall); });
  for (std::thread& thread : threads) thread.join();
  RunOnce(&flag, CountOnceCall);
  EXPECT_EQ(g_onceCalls, 1);
  static OnceFlag another = {};
  RunOnce(&another, CountOnceCall);
  EXPECT_EQ(g_onceCalls, 2);
}

}  // namespace
