// The boundary between the program's GBK texts and the window system's
// UTF-16: it must give the same result whatever the system's ANSI code page
// (this test runs under 936, 1252 and 950).
#include "base/gbk_wide.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qv {
namespace {

using namespace std::string_literals;

// The run that means to test another code page must really have it.
TEST(GbkWide, RunsUnderTheCodePageTheRunAskedFor) {
  char expected[16] = {};
  if (GetEnvironmentVariableA("QV_EXPECTED_ANSI_CODE_PAGE", expected, sizeof expected) == 0)
    GTEST_SKIP() << "no code page asked for; this is " << GetACP();
  EXPECT_EQ(GetACP(), static_cast<UINT>(std::strtoul(expected, nullptr, 10)));
}

TEST(GbkWide, ConvertsWithGbkWhateverTheSystemCodePage) {
  EXPECT_EQ(WideFromGbk("开始"), L"\u5F00\u59CB");
  EXPECT_EQ(WideFromGbk("IP地址从："), L"IP\u5730\u5740\u4ECE\uFF1A");
  EXPECT_EQ(WideFromGbk("ab"), L"ab");
  EXPECT_EQ(GbkFromWide(L"\u51C6\u5907\u5C31\u7EEA"), "准备就绪");
  // Full-width digits reach the text-to-integer rule as their GBK bytes.
  EXPECT_EQ(GbkFromWide(L"\uFF11\uFF12"), "\xA3\xB1\xA3\xB2");
  for (const char* text : {"存活主机数：12", "线程： 0", "耗时(毫秒)", "Ωé", ""})
    EXPECT_EQ(GbkFromWide(WideFromGbk(text)), text);
}

TEST(GbkWide, OddInputNeverFailsAndKeepsInnerNuls) {
  EXPECT_EQ(WideFromGbk("a\0b\0\0"s), L"a\0b\0\0"s);
  EXPECT_EQ(GbkFromWide(L"a\0b"s), "a\0b"s);
  // Bytes that are no GBK character still become some text, and a lone lead
  // byte at the end does not swallow what came before.
  EXPECT_FALSE(WideFromGbk("\xFF\xFF").empty());
  EXPECT_EQ(WideFromGbk("ab\x81").substr(0, 2), L"ab");
  // A character GBK cannot hold becomes the default character.
  EXPECT_EQ(GbkFromWide(L"\u2603x"), "?x");
  // A text longer than any fixed buffer of the old ANSI calls.
  std::string pairs;
  for (int i = 0; i < 50000; ++i) pairs += "扫";
  EXPECT_EQ(WideFromGbk(pairs).size(), 50000u);
  EXPECT_EQ(GbkFromWide(WideFromGbk(pairs)), pairs);
}

}  // namespace
}  // namespace qv
