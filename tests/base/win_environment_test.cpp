// The ground every Windows test stands on: the GBK code page and the handle
// owners.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "base/win_handle.h"
#include "support/handle_count.h"

namespace qv {
namespace {

TEST(WinEnvironment, AnsiCodePageIsGbk) {
  ASSERT_EQ(GetACP(), 936u) << "Wine must run with LC_ALL=zh_CN.UTF-8";
  // "数值" compiled to GBK must come back as the two Unicode characters.
  const std::string text = "数值";
  wchar_t wide[8] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 8), 3);
  EXPECT_EQ(wide[0], L'\x6570');
  EXPECT_EQ(wide[1], L'\x503C');
}

TEST(UniqueHandle, ClosesOnceAndMovesOwnership) {
  const long before = test::ProcessHandleCount();
  ASSERT_GT(before, 0);
  {
    UniqueHandle a(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(a);
    UniqueHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_TRUE(b);
    b = UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(test::ProcessHandleCount(), before + 1);
  }
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

TEST(UniqueFile, InvalidValueIsNoHandle) {
  UniqueFile none(CreateFileA("Z:\\no\\such\\folder\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(none);
  EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace qv
