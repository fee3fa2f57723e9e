// The name checks that keep a patch's writes inside the game folder and the
// shortcut inside its folder.
#include <gtest/gtest.h>

#include <string>

#include "file/PlainFileName.h"

namespace {

TEST(PlainFileName, TakesOrdinaryNames) {
    for (const char* name : {"readme.txt", "Quor.exe", "a", "Orvandel Gaming Service", " leading space", "x.y.z",
                             "CONSOLE", "COM10", "LPT", "nulx.d", ".hidden", "\xE9t\xE9.txt", "a~b", "..x"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    EXPECT_TRUE(IsPlainFileName(std::string(255, 'n').c_str()));
}

TEST(PlainFileName, RefusesPathsDrivesAndWhatWindowsWouldNotCreate) {
    for (const char* name : {"", ".", "..", "a\\b", "a/b", "C:", "A:B", "a*", "a?", "a\"b", "a<b", "a>b", "a|b",
                             "trailing.", "trailing ", "tab\there", "\x1f", "CON", "con", "Con.txt", "NUL .txt",
                             "prn", "AUX.lnk", "COM1", "com9.dat", "LPT0", "lpt5", "COM\xB9", "CONIN$", "conout$"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    EXPECT_FALSE(IsPlainFileName(std::string(256, 'n').c_str()));
    EXPECT_FALSE(IsPlainFileName(nullptr));
}

TEST(PlainFileName, RelativePathsStayBelowTheirFolder) {
    for (const char* path : {"readme.txt", "MAPS\\KINGSFALL.MAP", "a\\b\\c\\d"})
        EXPECT_TRUE(IsPlainRelativePath(path)) << path;
    for (const char* path : {"", "\\X", "X\\", "A\\\\B", "..\\..\\X", "A\\..\\..\\X", ".\\X", "C:\\X", "C:X",
                             "A\\CON", "A\\b.\\c", "A/B", "\\\\server\\share\\x"})
        EXPECT_FALSE(IsPlainRelativePath(path)) << path;
    // Each name is held to the name length, not the whole path.
    std::string deep = std::string(200, 'a') + "\\" + std::string(200, 'b');
    EXPECT_TRUE(IsPlainRelativePath(deep.c_str()));
    EXPECT_FALSE(IsPlainRelativePath((std::string(256, 'a') + "\\b").c_str()));
}

TEST(PlainFileName, PatchPathsNeverEndInTheTemporarySuffix) {
    EXPECT_STREQ(kPartialFileSuffix, ".~qp");
    EXPECT_TRUE(IsPatchFilePath("MAPS\\KINGSFALL.MAP"));
    EXPECT_TRUE(IsPatchFilePath("a.~qpx"));
    // A byte above 126 names another file in another code page: a plain
    // name (the shortcut's may hold one), never a patch path.
    for (const char* path : {"readme.txt.~qp", "README.TXT.~QP", "dir.~qp\\file", "..\\x", "\xE9t\xE9.txt",
                             "MAPS\\caf\xC3\xA9", "a\x7F"})
        EXPECT_FALSE(IsPatchFilePath(path)) << path;
    EXPECT_EQ(PatchFileNameFault("a\x7F"), NameFault::kNotAscii);
    EXPECT_EQ(PatchFileNameFault("x.~QP"), NameFault::kPartialSuffix);
    EXPECT_EQ(PatchFileNameFault("nul .txt"), NameFault::kDeviceName);
    EXPECT_EQ(PatchFileNameFault("con."), NameFault::kTrailingDotOrBlank);
}

}  // namespace
