// Work handed to the window's thread from other threads.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>

#include "ui/run_on_ui_thread.h"
#include "window_test_support.h"

namespace qv::test {
namespace {

using RunOnUiThreadTest = MainWindowTest;

TEST_F(RunOnUiThreadTest, RunsOnTheWindowThreadAndWaitsForIt) {
  const DWORD uiThread = GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  std::atomic<bool> returned{false}, result{false};
  int observed = 0;
  HWND main = window_->Handle();
  std::thread worker([&] {
    result = RunOnUiThread(main, [&] {
      ranOn = GetCurrentThreadId();
      window_->SetStatusText(2, "存活主机数：1");
    });
    // Everything the call did is visible here, once it has returned.
    observed = ranOn == uiThread ? 1 : 2;
    returned = true;
  });
  const bool finished = PumpUntil([&] { return returned.load(); }, 5000, window_.get());
  worker.join();
  ASSERT_TRUE(finished) << "the call never came back";
  EXPECT_TRUE(result);
  EXPECT_EQ(observed, 1);
  EXPECT_EQ(ranOn, uiThread);
}

TEST_F(RunOnUiThreadTest, OnTheWindowThreadItRunsAtOnce) {
  int runs = 0;
  EXPECT_TRUE(RunOnUiThread(window_->Handle(), [&] { ++runs; }));
  EXPECT_EQ(runs, 1);
}

TEST_F(RunOnUiThreadTest, AGoneWindowRefusesWithoutRunning) {
  HWND main = window_->Handle();
  window_.reset();
  ASSERT_FALSE(IsWindow(main));
  std::atomic<int> runs{0};
  std::atomic<bool> result{true};
  std::thread worker([&] { result = RunOnUiThread(main, [&] { ++runs; }); });
  worker.join();  // no pumping: a refusal must not wait for this thread
  EXPECT_FALSE(result);
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(RunOnUiThread(nullptr, [&] { ++runs; }));
  // A window of another kind does not run the call either.
  HWND other = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  EXPECT_FALSE(RunOnUiThread(other, [&] { ++runs; }));
  DestroyWindow(other);
  EXPECT_EQ(runs, 0);
}

// A posted call may wait for the operator (a message box): the poster goes
// on at once, and the call runs later on the window's thread.
TEST_F(RunOnUiThreadTest, APostedCallRunsLaterOnTheWindowThreadWithoutHoldingThePoster) {
  const DWORD uiThread = GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  std::atomic<bool> posted{false};
  HWND main = window_->Handle();
  std::thread poster([&] { posted = PostToUiThread(main, [&] { ranOn = GetCurrentThreadId(); }); });
  poster.join();  // no pumping: posting must not wait for this thread
  EXPECT_TRUE(posted);
  EXPECT_EQ(ranOn, 0u) << "ran before the window's thread took its messages";
  ASSERT_TRUE(PumpUntil([&] { return ranOn.load() != 0; }, 5000, window_.get()));
  EXPECT_EQ(ranOn, uiThread);
}

// Calls still queued when the window goes are freed and never run; a gone
// window refuses new ones, and frees them too.
TEST_F(RunOnUiThreadTest, CallsPostedToAWindowThatGoesAreFreedWithoutRunning) {
  HWND main = window_->Handle();
  const auto witness = std::make_shared<int>(0);
  int runs = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(PostToUiThread(main, [&runs, witness] { ++runs; }));
  window_.reset();
  MSG left;
  while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&left);
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(PostToUiThread(main, [&runs, witness] { ++runs; }));
  EXPECT_EQ(witness.use_count(), 1) << "a posted call was not freed";
  EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace qv::test
