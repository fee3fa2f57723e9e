#include "app/HexNumber.h"

#include <gtest/gtest.h>

TEST(HexNumber, VersionTexts) {
    EXPECT_EQ(ParseHexNumber("10005"), 0x10005);
    EXPECT_EQ(ParseHexNumber("10001"), 65537);
    EXPECT_EQ(ParseHexNumber("1000C"), 0x1000C);
    EXPECT_EQ(ParseHexNumber("0x1000c"), 0x1000C);
    EXPECT_EQ(ParseHexNumber("  \t+0X10"), 16);
}

TEST(HexNumber, StopsAtTheFirstNonDigit) {
    EXPECT_EQ(ParseHexNumber("12g4"), 0x12);
    EXPECT_EQ(ParseHexNumber("1.05"), 1);
    EXPECT_EQ(ParseHexNumber("0xg"), 0);
    EXPECT_EQ(ParseHexNumber(""), 0);
    EXPECT_EQ(ParseHexNumber("version"), 0);
    EXPECT_EQ(ParseHexNumber(nullptr), 0);
}

TEST(HexNumber, SignAndClamping) {
    EXPECT_EQ(ParseHexNumber("-1"), -1);
    EXPECT_EQ(uint32_t(ParseHexNumber("-1")), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHexNumber("7FFFFFFF"), INT32_MAX);
    EXPECT_EQ(ParseHexNumber("80000000"), INT32_MAX);
    EXPECT_EQ(ParseHexNumber("FFFFFFFFFFFF"), INT32_MAX);
    EXPECT_EQ(ParseHexNumber("-80000000"), INT32_MIN);
    EXPECT_EQ(ParseHexNumber("-123456789"), INT32_MIN);
}
