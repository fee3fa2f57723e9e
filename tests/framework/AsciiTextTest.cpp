#include <gtest/gtest.h>

#include "framework/AsciiText.h"

TEST(AsciiText, FoldsOnlyAsciiLettersAndComparesBytesUnsigned) {
    EXPECT_EQ(CompareNoCase("Data\\", "DATA\\"), 0);
    EXPECT_LT(CompareNoCase("a", "B"), 0);
    EXPECT_LT(CompareNoCase("DATA", "DATA\\"), 0);
    // Bytes above 0x7F are not letters and sort after ASCII.
    EXPECT_NE(CompareNoCase("\xE9", "\xC9"), 0);
    EXPECT_GT(CompareNoCase("\xE9", "z"), 0);
    EXPECT_EQ(CompareNoCaseN("PATCH.INI", "patch.ini-more", 9), 0);
    EXPECT_NE(CompareNoCaseN("PATCH", "PATCX", 5), 0);
    EXPECT_EQ(CompareNoCaseN("x", "y", 0), 0);

    char text[] = "Files\\sub\xE9z";
    UpperCaseInPlace(text);
    EXPECT_STREQ(text, "FILES\\SUB\xE9Z");
}
