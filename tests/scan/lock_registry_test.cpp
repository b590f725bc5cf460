#include "scan/lock_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qv {
namespace {

TEST(LockRegistry, UnregisteredLocksDoNothing) {
  LockRegistry registry;
  EXPECT_FALSE(registry.Enter(42).holds());
  EXPECT_FALSE(registry.Delete(42));
  const LockId id = registry.Create();
  EXPECT_TRUE(registry.Exists(id));
  EXPECT_TRUE(registry.Delete(id));
  EXPECT_FALSE(registry.Delete(id));
  EXPECT_FALSE(registry.Enter(id).holds());
}

TEST(LockRegistry, SerializesHolders) {
  LockRegistry registry;
  const LockId id = registry.Create();
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        auto guard = registry.Enter(id);
        ++counter;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 80000);
}

TEST(LockRegistry, DeletingAHeldLockLetsTheHolderFinishAndLaterEntriesPass) {
  LockRegistry registry;
  const LockId id = registry.Create();
  std::atomic<bool> entered{false}, release{false};
  std::thread holder([&] {
    auto guard = registry.Enter(id);
    entered = true;
    while (!release) std::this_thread::yield();
  });
  while (!entered) std::this_thread::yield();
  EXPECT_TRUE(registry.Delete(id));            // does not wait for the holder
  EXPECT_FALSE(registry.Enter(id).holds());    // deleted: entering does nothing, never blocks
  release = true;
  holder.join();
}

}  // namespace
}  // namespace qv
