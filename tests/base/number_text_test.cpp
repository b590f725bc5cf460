#include "base/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qv {
namespace {

TEST(FoldFullWidth, ReplacesOnlyFullWidthAsciiForms) {
  EXPECT_EQ(FoldFullWidth("\xA3\xB1\xA3\xB2"), "12");          // full-width digits
  EXPECT_EQ(FoldFullWidth("\xA3\xAD\xA3\xAB"), "-+");          // full-width signs
  EXPECT_EQ(FoldFullWidth("\xA1\xA1\xA1\xAB\xA1\xEE\xA1\xEF"), " ~**");
  EXPECT_EQ(FoldFullWidth("数值"), "数值");                    // other characters stay whole
  EXPECT_EQ(FoldFullWidth("1\xA3"), "1\xA3");                  // a lead byte at the end stays
}

TEST(FoldFullWidth, NeverSplitsADoubleByteCharacter) {
  // 0xB3A3 is a character whose trail byte happens to be the 0xA3 lead value;
  // the following 0xB1 must not be read as a full-width pair with it.
  EXPECT_EQ(FoldFullWidth("\xB3\xA3\xB1"), "\xB3\xA3\xB1");
}

TEST(TextToInteger, ReadsSignAndLeadingDigits) {
  EXPECT_EQ(TextToInteger("100"), 100);
  EXPECT_EQ(TextToInteger("  \t-3"), -3);
  EXPECT_EQ(TextToInteger("+42"), 42);
  EXPECT_EQ(TextToInteger("12abc"), 12);
  EXPECT_EQ(TextToInteger(""), 0);
  EXPECT_EQ(TextToInteger("abc"), 0);
  EXPECT_EQ(TextToInteger("-"), 0);
  EXPECT_EQ(TextToInteger("1 2"), 1);
}

TEST(TextToInteger, FullWidthFormsCountAsAscii) {
  EXPECT_EQ(TextToInteger("\xA3\xB1\xA3\xB2"), 12);               // １２
  EXPECT_EQ(TextToInteger("\xA1\xA1\xA3\xAD\xA3\xB5"), -5);       // 　－５
  EXPECT_EQ(TextToInteger("3\xA3\xB0"), 30);                       // mixed widths
  EXPECT_EQ(TextToInteger("7数"), 7);                              // other characters end the number
  EXPECT_EQ(TextToInteger("数7"), 0);
  EXPECT_EQ(TextToInteger("9\xA3"), 9);                            // trailing lead byte
}

TEST(TextToInteger, SaturatesOutsideThe32BitRange) {
  EXPECT_EQ(TextToInteger("2147483647"), INT_MAX);
  EXPECT_EQ(TextToInteger("2147483648"), INT_MAX);
  EXPECT_EQ(TextToInteger("-2147483648"), INT_MIN);
  EXPECT_EQ(TextToInteger("-2147483649"), INT_MIN);
  EXPECT_EQ(TextToInteger(std::string(10000, '9')), INT_MAX);
  EXPECT_EQ(TextToInteger("-" + std::string(10000, '9')), INT_MIN);
}

TEST(TextToInteger, BadInputGivesAValueWithoutReadingPastTheText) {
  EXPECT_EQ(TextToInteger(std::string(10000, ' ')), 0);
  EXPECT_EQ(TextToInteger(std::string(10000, '\xA3')), 0);
  std::string pairs;
  for (int i = 0; i < 5000; ++i) pairs += "\xA3\xB1";
  EXPECT_EQ(TextToInteger(pairs), INT_MAX);
  const char embedded[] = {'4', '\0', '2'};
  EXPECT_EQ(TextToInteger(std::string_view(embedded, 3)), 4);
}

TEST(NumberText, IntegersAndDoubles) {
  EXPECT_EQ(IntegerToText(0), "0");
  EXPECT_EQ(IntegerToText(-17), "-17");
  EXPECT_EQ(IntegerToText(4294967296LL), "4294967296");
  EXPECT_EQ(NumberToText(101.0), "101");
  EXPECT_EQ(NumberToText(-1.0), "-1");
  EXPECT_EQ(NumberToText(0.5), "0.5");
  EXPECT_EQ(NumberToText(1.0 / 3.0), "0.3333333333333");
  EXPECT_EQ(NumberToText(2147483648.0), "2147483648");
}

}  // namespace
}  // namespace qv
