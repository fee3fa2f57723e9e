#include "app/HashIni.h"

#include <gtest/gtest.h>

#include <string>

#include "MemoryFile.h"
#include "app/ReadWatchFile.h"

namespace {

class HashIniTest : public ::testing::Test {
protected:
    void Load(const std::string& text) {
        MemoryFile file(std::vector<uint8_t>(text.begin(), text.end()));
        ASSERT_EQ(table.LoadFile(&file), nullptr);
    }
    std::string Value(const char* section, const char* key) {
        const char* value = table.FindValue(section, key);
        return value ? value : "<missing>";
    }
    int SectionCount() {
        int n = 0;
        for (const IniSection* s = table.FirstSection(); s; s = s->next) ++n;
        return n;
    }

    CHashIni table{20, 500, new CSizedPtrPool(), true};
};

TEST_F(HashIniTest, KeysValuesAndComments) {
    Load("[str]\r\n"
         "a = b=c ; the comment\r\n"
         " \tspaced\t =\t value with blanks \t\r\n"
         "empty =\r\n"
         "bare key\r\n"
         "quoted = \"x\"\r\n");
    EXPECT_EQ(Value("str", "a"), "b=c");
    EXPECT_EQ(EntryComment(table.FirstSection()->firstEntry), std::string(" the comment"));
    EXPECT_EQ(Value("str", "spaced"), "value with blanks");
    EXPECT_EQ(Value("str", "empty"), "");
    EXPECT_EQ(Value("str", "bare key"), "");
    EXPECT_EQ(Value("str", "quoted"), "\"x\"");
    EXPECT_EQ(Value("STR", "A"), "b=c");
    EXPECT_EQ(Value("str", "missing"), "<missing>");
    EXPECT_EQ(Value("other", "a"), "<missing>");
}

TEST_F(HashIniTest, LinesBeforeTheFirstHeaderAndBlankLinesAreIgnored) {
    Load("early = 1\n\n\r\r\n[s]\n   \n= lost\n; kept comment\nk = v");
    EXPECT_EQ(Value("s", "early"), "<missing>");
    // The final line without a break is loaded; the comment line is an
    // unnamed entry, the blank and the "= lost" lines are not kept.
    EXPECT_EQ(Value("s", "k"), "v");
    const IniEntry* first = table.FirstSection()->firstEntry;
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, "");
    EXPECT_STREQ(EntryComment(first), " kept comment");
    ASSERT_NE(first->next, nullptr);
    EXPECT_STREQ(first->next->name, "k");
    EXPECT_EQ(first->next->next, nullptr);
}

TEST_F(HashIniTest, SectionNamesKeepInnerBlanksAndHeaderComment) {
    Load("[ spaced ] = ignored ; note\nk=1\n");
    ASSERT_EQ(SectionCount(), 1);
    EXPECT_STREQ(table.FirstSection()->name, " spaced ");
    EXPECT_STREQ(SectionComment(table.FirstSection()), " note");
    EXPECT_EQ(Value(" spaced ", "k"), "1");
    EXPECT_EQ(Value("spaced", "k"), "<missing>");
}

TEST_F(HashIniTest, RepeatsFindTheLastOne) {
    Load("[s]\nKey=first\nkey=second\n[t]\nx=1\n[s]\ny=2\n");
    EXPECT_EQ(Value("s", "KEY"), "<missing>");  // below the first [s] only
    EXPECT_EQ(Value("s", "y"), "2");
    Load("[s]\nKey=first\nkey=second\n");
    EXPECT_EQ(Value("s", "KEY"), "second");
}

TEST_F(HashIniTest, OverlongLineIsCutAndGoesOn) {
    std::string line(1023, 'k');
    line += 'X';       // character 1024: lost
    line += "=value";  // characters 1025-1030: the next line
    Load("[s]\n" + line + "\n");
    EXPECT_EQ(Value("s", std::string(1023, 'k').c_str()), "");
    EXPECT_EQ(Value("s", std::string(1023, 'k').append("X").c_str()), "<missing>");
    // "=value" has an empty key and no comment: dropped.
    EXPECT_EQ(table.FirstSection()->firstEntry->next, nullptr);

    Load("[s]\n" + std::string(1023, 'a') + "Zq=2\n");
    EXPECT_EQ(Value("s", "q"), "2");
}

TEST_F(HashIniTest, HeaderOnTheLastLineYieldsNoSections) {
    Load("x=1\n[s]");
    EXPECT_EQ(SectionCount(), 0);
    EXPECT_EQ(Value("s", "x"), "<missing>");
    Load("[s]\r\n[t]");  // a later header on the last line is taken
    EXPECT_EQ(SectionCount(), 2);
}

TEST_F(HashIniTest, LinesLongerThanOneReadBuffer) {
    // Values spanning the 4097-byte read blocks arrive whole.
    std::string text = "[s]\n";
    for (int i = 0; i < 400; ++i) text += "key" + std::to_string(i) + " = " + std::string(i % 50, 'v') + "\r\n";
    Load(text);
    for (int i = 0; i < 400; i += 37)
        EXPECT_EQ(Value("s", ("KEY" + std::to_string(i)).c_str()), std::string(i % 50, 'v')) << i;
}

TEST_F(HashIniTest, GetStringBounds) {
    Load("[s]\nk=abcde\n");
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(table.GetString("s", "k", buffer, 4), nullptr);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(table.GetString("s", "k", buffer, 8), nullptr);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(buffer[6], '\0');  // padded
    EXPECT_EQ(table.GetString("s", "k", buffer, UINT32_MAX), nullptr);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(table.GetString("s", "nope", buffer, 8), ERR_NOTFOUND);
    EXPECT_EQ(table.GetString("s", "k", nullptr, 8), ERR_UNKNOWN);
    EXPECT_EQ(table.GetString("s", "k", buffer, 0), ERR_UNKNOWN);
}

TEST_F(HashIniTest, NullFileAndReloadClear) {
    Load("[s]\nk=1\n");
    EXPECT_EQ(table.LoadFile(nullptr), ERR_BADPARAMS);
    EXPECT_EQ(table.FirstSection(), nullptr);
    EXPECT_EQ(Value("s", "k"), "<missing>");
    Load("");
    EXPECT_EQ(SectionCount(), 0);
}

TEST_F(HashIniTest, ReadFailureEndsTheFile) {
    std::string text = "[s]\nk=1\n";
    MemoryFile file(std::vector<uint8_t>(text.begin(), text.end()));
    file.failReadAfter = 0;
    EXPECT_EQ(table.LoadFile(&file), nullptr);
    EXPECT_EQ(SectionCount(), 0);
}

// Loaded whole, a file that stops before its end (an error, or nothing
// delivered) is told and leaves no table; the end itself is no failure.
TEST_F(HashIniTest, LoadWholeTellsAFileCutShort) {
    std::string text = "[s]\nk=1\n" + std::string(CHashIni::kReadBufferSize, ';') + "\nlater=2\n";
    MemoryFile whole(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(LoadWhole(&table, &whole), nullptr);
    EXPECT_EQ(Value("s", "later"), "2");

    MemoryFile cut(std::vector<uint8_t>(text.begin(), text.end()));
    cut.failReadAfter = 1;
    EXPECT_EQ(table.LoadFile(&cut), nullptr);  // alone, the loader takes the error for the end
    EXPECT_EQ(Value("s", "k"), "1");
    cut.position = 0;
    cut.readCalls = 0;
    EXPECT_EQ(LoadWhole(&table, &cut), ERR_READFAIL);
    EXPECT_EQ(SectionCount(), 0);
}

}  // namespace
