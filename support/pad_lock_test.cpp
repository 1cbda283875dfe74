#include "support/pad_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace zipkit {
namespace {

TEST(PadLock, ReentrantAndCounted) {
  TAbPadLock lock;
  EXPECT_EQ(lock.HoldCount(), 0);
  lock.SetHeld(true);
  lock.SetHeld(true);
  EXPECT_EQ(lock.HoldCount(), 2);
  lock.SetHeld(false);
  EXPECT_EQ(lock.HoldCount(), 1);
  lock.SetHeld(false);
  lock.SetHeld(false);  // one release too many: nothing happens
  EXPECT_EQ(lock.HoldCount(), 0);
  lock.SetHeld(true);  // still usable
  lock.SetHeld(false);
}

TEST(PadLock, OtherThreadsWaitAndCannotRelease) {
  TAbPadLock lock;
  lock.SetHeld(true);
  std::atomic<bool> acquired{false};
  std::thread releaser([&] { lock.SetHeld(false); });  // not the holder: ignored
  releaser.join();
  EXPECT_EQ(lock.HoldCount(), 1);
  std::thread waiter([&] {
    lock.SetHeld(true);
    acquired = true;
    lock.SetHeld(false);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired);
  lock.SetHeld(false);
  waiter.join();
  EXPECT_TRUE(acquired);
  EXPECT_EQ(lock.HoldCount(), 0);
}

TEST(PadLock, DestroyedWhileHeld) {
  auto lock = std::make_unique<TAbPadLock>();
  lock->SetHeld(true);
  lock->SetHeld(true);
  lock.reset();  // must release, not leave a locked mutex behind
  SUCCEED();
}

}  // namespace
}  // namespace zipkit
