#include "app/HashName.h"

#include <gtest/gtest.h>

TEST(HashName, KnownValues) {
    EXPECT_EQ(HashName(""), 0u);
    EXPECT_EQ(HashName("a"), 1094795585u);
    EXPECT_EQ(HashName("A"), 0x41414141u);
    EXPECT_EQ(HashName("str"), 4193909241u);
    EXPECT_EQ(HashName("title"), 2206434178u);
}

TEST(HashName, BucketsOfTheStringsSection) {
    EXPECT_EQ(HashName("str") % 20, 1u);
    EXPECT_EQ((HashName("str") + HashName("title")) % 500, 123u);
}

TEST(HashName, IgnoresAsciiCaseOnly) {
    EXPECT_EQ(HashName("Welcome2"), HashName("wELCOME2"));
    // Bytes above 127 count as negative and are not folded.
    EXPECT_NE(HashName("\xe4"), HashName("\xc4"));
    EXPECT_EQ(HashName("\xff"), 0u - 16843009u);  // -1 times 0x01010101
}
