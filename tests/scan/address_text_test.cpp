#include "scan/address_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

TEST(NextAddressText, StepsAndCarries) {
  EXPECT_EQ(NextAddressText("192.168.1.254"), "192.168.1.255");
  EXPECT_EQ(NextAddressText("192.168.1.255"), "192.168.2.0");
  EXPECT_EQ(NextAddressText("10.0.255.255"), "10.1.0.0");
  EXPECT_EQ(NextAddressText("255.255.255.255"), "256.0.0.0");
  EXPECT_EQ(NextAddressText("10.255.255.255"), "11.0.0.0");
}

TEST(NextAddressText, ReadsFieldsAsIntegers) {
  EXPECT_EQ(NextAddressText("\xA3\xB1\xA3\xB0.0.0.\xA3\xB9"), "10.0.0.10");  // full-width digits
  EXPECT_EQ(NextAddressText("010.001.002.009"), "10.1.2.10");
  EXPECT_EQ(NextAddressText(" 1. 2. 3. 4"), "1.2.3.5");
  EXPECT_EQ(NextAddressText("1.2.3.4.5"), "1.2.3.5");  // a fifth field is ignored
}

TEST(NextAddressText, MalformedTextsStillGiveAnAddress) {
  EXPECT_EQ(NextAddressText(""), "0.0.0.1");
  EXPECT_EQ(NextAddressText("1.2"), "1.2.0.1");
  EXPECT_EQ(NextAddressText("..."), "0.0.0.1");
  EXPECT_EQ(NextAddressText("2147483647.255.255.255"), "2147483648.0.0.0");
  EXPECT_EQ(NextAddressText(std::string(10000, 'x')), "0.0.0.1");
  EXPECT_EQ(NextAddressText("数.值.a.\xA3"), "0.0.0.1");
}

TEST(DisplayAddressText, PadsTheLastField) {
  EXPECT_EQ(DisplayAddressText("192.168.1.5"), "192.168.1.005");
  EXPECT_EQ(DisplayAddressText("10.0.0.40"), "10.0.0.040");
  EXPECT_EQ(DisplayAddressText("10.0.0.123"), "10.0.0.123");
  EXPECT_EQ(DisplayAddressText("192.168.1.255"), "192.168.1.255");
  EXPECT_EQ(DisplayAddressText("192.168.1.0"), "192.168.1.000");
  EXPECT_EQ(DisplayAddressText("7"), "007");              // no dot: empty prefix
  EXPECT_EQ(DisplayAddressText("010.1.1.7"), "010.1.1.007");  // the prefix stays as written
  EXPECT_EQ(DisplayAddressText("1.2.3.-4"), "1.2.3.0-4");  // the sign counts as a digit place
  EXPECT_EQ(DisplayAddressText(""), "000");
}

TEST(AddressPieces, PrefixLastOctetAndPadding) {
  EXPECT_EQ(AddressPrefix("192.168.1.23"), "192.168.1.");
  EXPECT_EQ(AddressPrefix("abc"), "");
  EXPECT_EQ(LastOctetValue("1.2.3.\xA3\xB7"), 7);
  EXPECT_EQ(LastOctetValue("1.2.3."), 0);
  EXPECT_EQ(PadToThreeDigits(""), "000");
  EXPECT_EQ(PadToThreeDigits("1234"), "1234");
}

TEST(MacText, UpperCaseTwoDigitFields) {
  EXPECT_EQ(MacText({0, 26, 43, 60, 77, 94}), "00-1A-2B-3C-4D-5E");
  EXPECT_EQ(MacText({10, 10, 10, 10, 10, 10}), "0A-0A-0A-0A-0A-0A");
  EXPECT_EQ(MacText({0xFF, 0xEE, 0x02, 0, 0, 0}), "FF-EE-02-00-00-00");
  EXPECT_EQ(PadHexByte("A"), "0A");
  EXPECT_EQ(PadHexByte("1A"), "1A");
  EXPECT_EQ(PadHexByte(""), "");
}

}  // namespace
}  // namespace qv
