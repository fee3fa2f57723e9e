// The strings file checks: the sample strings file passes without a word,
// and each fault a publisher can make is caught on its own line, as an error
// or a warning, with nothing else reported.
#include "StringsCheck.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

struct Expected {
    bool error;
    uint32_t line;
    std::string key;
};

std::string SampleText()
{
    std::ifstream in(std::string(QP_SAMPLE_PATCH) + "/Patch.ini", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The sample's lines without their line ends: "[str]" is line 1, "ver" 2,
// "vermin" 3, "welcome" 4, "welcome2" 5, "title" 6, "noquor" 7, "quorrun" 8,
// "noneed" 9, "done" 10, "copy" 11, "wronglang" 12, "errcopy" 13,
// "errnotcomplete" 14, "errvermin" 15, "zln_name" 16, "zln_shortcut" 17.
std::vector<std::string> SampleLines()
{
    std::vector<std::string> lines;
    std::istringstream in(SampleText());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(0, line.find('\r')));
    return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& end = "\r\n")
{
    std::string text;
    for (const std::string& line : lines)
        text += line + end;
    return text;
}

// The sample with key's line replaced by "key = value" (or removed).
std::string With(const std::string& key, const std::optional<std::string>& value,
                 std::vector<std::string> lines = SampleLines())
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].compare(0, key.size() + 1, key + " ") == 0) {
            if (value)
                lines[i] = key + " = " + *value;
            else
                lines.erase(lines.begin() + static_cast<long>(i));
            return Join(lines);
        }
    ADD_FAILURE() << "no key " << key;
    return "";
}

StringsCheckContext WithClient()
{
    StringsCheckContext context;
    context.packNames = {"FILES\\README.TXT", "FILES\\ZLN\\ZAVOVUDIZ.EXE", "PATCH.INI"};
    return context;
}

std::string Describe(const std::vector<Finding>& findings)
{
    std::string text;
    for (const Finding& f : findings)
        text += std::string(f.error ? "error" : "warning") + " line " + std::to_string(f.line) + " \"" + f.key +
                "\": " + f.text + "\n";
    return text;
}

// Exactly the expected findings, in line order.
void ExpectFindings(const std::string& text, const std::vector<Expected>& expected,
                    const StringsCheckContext& context = WithClient())
{
    const std::vector<Finding> findings = CheckStrings(std::vector<uint8_t>(text.begin(), text.end()), context);
    ASSERT_EQ(findings.size(), expected.size()) << Describe(findings);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(findings[i].error, expected[i].error) << Describe(findings);
        EXPECT_EQ(findings[i].line, expected[i].line) << Describe(findings);
        EXPECT_EQ(findings[i].key, expected[i].key) << Describe(findings);
    }
}

TEST(StringsCheck, TheSamplePassesWithoutWarnings)
{
    ASSERT_FALSE(SampleText().empty());
    ExpectFindings(SampleText(), {});
    // Any line end, and empty lines between, give the same lines.
    ExpectFindings(Join(SampleLines(), "\n"), {});
    ExpectFindings(Join(SampleLines(), "\r"), {});
}

TEST(StringsCheck, AFileWithoutTheSectionIsAnError)
{
    ExpectFindings("", {{true, 0, ""}});
    ExpectFindings("ver = 10005\r\n", {{true, 0, ""}});
    ExpectFindings("[strings]\r\nver = 10005\r\n", {{true, 0, ""}});
    // A byte order mark hides the first header.
    ExpectFindings("\xEF\xBB\xBF" + SampleText(), {{true, 1, ""}});
    // A lone header on the last line without a line break is not taken.
    ExpectFindings("[str]", {{true, 1, ""}});
}

TEST(StringsCheck, VersionsAreReadAsThePatcherReadsThem)
{
    ExpectFindings(With("ver", "-1"), {{true, 2, "ver"}});
    ExpectFindings(With("ver", "1.05"), {{true, 2, "ver"}});
    ExpectFindings(With("ver", "FFFFFFFF"), {{true, 2, "ver"}});
    ExpectFindings(With("ver", "0"), {{true, 2, "ver"}});
    ExpectFindings(With("ver", ""), {{true, 2, "ver"}});
    ExpectFindings(With("ver", "1OOO5"), {{true, 2, "ver"}});
    ExpectFindings(With("ver", std::nullopt), {{true, 1, "ver"}});
    ExpectFindings(With("vermin", std::nullopt), {{true, 1, "vermin"}});
    ExpectFindings(With("vermin", "-5"), {{true, 3, "vermin"}});
    // What the patcher's conversion accepts passes.
    ExpectFindings(With("ver", "0x10005"), {});
    ExpectFindings(With("ver", "+1000A"), {});
    ExpectFindings(With("ver", "7FFFFFFF"), {});
    ExpectFindings(With("ver", "0000000000010005"), {});
}

TEST(StringsCheck, VersionWindowMustLeaveRoom)
{
    ExpectFindings(With("vermin", "10006"), {{true, 2, "ver"}});
    ExpectFindings(With("vermin", "10005"), {{false, 2, "ver"}});
    ExpectFindings(With("vermin", "0"), {});
    // A major number of 0: "105" is 0.261, not 1.05.
    ExpectFindings(With("ver", "105", SampleLines()), {{false, 2, "ver"}, {true, 2, "ver"}});
}

TEST(StringsCheck, FormatsMustTakeThePatchersArguments)
{
    ExpectFindings(With("welcome2", "Version %s in %d"), {{true, 5, "welcome2"}});
    ExpectFindings(With("welcome2", "%d.%02d in %s and %s"), {{true, 5, "welcome2"}});
    ExpectFindings(With("welcome2", "%d.%02d %n"), {{true, 5, "welcome2"}});
    ExpectFindings(With("welcome2", "%d.%02d %ls"), {{true, 5, "welcome2"}});
    ExpectFindings(With("errcopy", "Cannot copy %d"), {{true, 13, "errcopy"}});
    ExpectFindings(With("errcopy", "%s or %s"), {{true, 13, "errcopy"}});
    // The optional texts of the check before the first change, when given.
    ExpectFindings(SampleText() + "errspace = Free %s MB\r\n", {{true, 18, "errspace"}});
    ExpectFindings(SampleText() + "errinuse = %d is in use\r\n", {{true, 18, "errinuse"}});
    ExpectFindings(SampleText() + "errnomatch = %s cannot be updated\r\nerrspace = %d MB short\r\n", {});
    // Fewer conversions than arguments, and "%%", are fine.
    ExpectFindings(With("welcome2", "Upgrade to 1.05 (100%%)? You have %d.%02d."), {});
    ExpectFindings(With("errcopy", "Cannot copy a file"), {});
    // Too long once formatted: cut by the patcher's 256-byte buffer.
    ExpectFindings(With("welcome2", std::string(230, 'w') + " %d.%02d %s"), {{false, 5, "welcome2"}});
    ExpectFindings(With("title", std::string(256, 't')), {{false, 6, "title"}});
}

TEST(StringsCheck, EmptyOrMissingTextsAreErrors)
{
    ExpectFindings(With("title", ""), {{true, 6, "title"}});
    ExpectFindings(With("done", std::nullopt), {{true, 1, "done"}});
    ExpectFindings(With("errcopy", std::nullopt), {{true, 1, "errcopy"}});
    ExpectFindings(With("welcome", "   "), {{true, 4, "welcome"}});
    // Without "welcome2" the plain question is asked: doubtful, not wrong.
    ExpectFindings(With("welcome2", std::nullopt), {{false, 1, "welcome2"}});
}

TEST(StringsCheck, SemicolonsAndLongLinesCutTexts)
{
    ExpectFindings(With("done", "Done; enjoy"), {{false, 10, "done"}});
    ExpectFindings(With("ver", "10005 ; 1.05"), {{false, 2, "ver"}});
    // A comment on a line of its own is fine.
    std::vector<std::string> lines = SampleLines();
    lines.insert(lines.begin() + 1, "; texts of patch 1.05");
    ExpectFindings(Join(lines), {});
    // 1100 characters: the rest after 1024 becomes a line of its own, which
    // is not reported again as a key.
    ExpectFindings(With("welcome", std::string(1100, 'a')), {{true, 4, "welcome"}});
    // The rest can even switch the shortcut off, as the patcher reads it.
    ExpectFindings(SampleText() + "done = " + std::string(1016, 'a') + " zln_shortcut = 0\r\n",
                   {{false, 10, "done"}, {true, 18, "done"}}, WithClient());
    // Exactly 1023 characters fit.
    ExpectFindings(With("welcome", std::string(1023 - 10, 'a')), {});
}

TEST(StringsCheck, SectionsAndKeysThePatcherDoesNotSee)
{
    ExpectFindings("[str]\r\nfoo = 1\r\n" + SampleText(), {{false, 1, ""}});
    ExpectFindings("title = Early\r\n" + SampleText(), {{false, 1, "title"}});
    ExpectFindings(SampleText() + "welcom = Hello\r\n", {{false, 18, "welcom"}});
    ExpectFindings(SampleText() + "DONE = Finished\r\n", {{false, 10, "done"}});
    // Line numbers count empty lines and every kind of line end.
    ExpectFindings("\r\n\n[str]\r\r\n" + With("ver", "-1").substr(7), {{true, 5, "ver"}});
}

TEST(StringsCheck, LanguageIsCheckedAsThePatcherCompares)
{
    ExpectFindings(SampleText() + "lang = English\r\n", {});
    ExpectFindings(SampleText() + "lang = german\r\n", {{false, 18, "lang"}});
    ExpectFindings(SampleText() + "lang = eng|lish\r\n", {{true, 18, "lang"}, {false, 18, "lang"}});
    ExpectFindings(SampleText() + "lang = " + std::string(300, 'e') + "\r\n", {{true, 18, "lang"}, {false, 18, "lang"}});
    ExpectFindings(SampleText() + "lang = fran\xe7" "ais\r\n", {{false, 18, "lang"}, {false, 18, "lang"}});
    // Saved as UTF-8, it matches no game's language either.
    ExpectFindings(SampleText() + "lang = fran\xc3\xa7" "ais\r\n",
                   {{true, 18, "lang"}, {false, 18, "lang"}, {false, 18, "lang"}});
    ExpectFindings(SampleText() + "lang =\r\n", {});
}

TEST(StringsCheck, ShortcutNameAndTarget)
{
    ExpectFindings(With("zln_name", "Games\\Service"), {{true, 16, "zln_name"}});
    ExpectFindings(With("zln_name", "CON"), {{true, 16, "zln_name"}});
    ExpectFindings(With("zln_name", "Service."), {{true, 16, "zln_name"}});
    ExpectFindings(With("zln_name", "Service|Client"), {{true, 16, "zln_name"}});
    ExpectFindings(With("zln_name", "conout$.lnk"), {{true, 16, "zln_name"}});
    ExpectFindings(With("zln_name", "Orvandel Dienst f\xfcr Spieler"), {});
    ExpectFindings(With("zln_name", ""), {{true, 16, "zln_name"}});
    ExpectFindings(With("zln_name", std::nullopt), {{true, 1, "zln_name"}});
    ExpectFindings(With("zln_shortcut", "yes"), {{false, 17, "zln_shortcut"}});
    ExpectFindings(With("zln_shortcut", std::nullopt), {{false, 1, "zln_shortcut"}});
    // Switched off, the name is not used.
    ExpectFindings(With("zln_name", "a:b", SampleLines()), {{true, 16, "zln_name"}});
    std::vector<std::string> off = SampleLines();
    off.back() = "zln_shortcut = 0";
    ExpectFindings(With("zln_name", "a:b", off), {});

    // The target: carried, or in the base installation; doubtful without one.
    StringsCheckContext none;
    none.packNames = {"FILES\\README.TXT", "PATCH.INI"};
    ExpectFindings(SampleText(), {{false, 17, "zln_shortcut"}}, none);
    none.baseHasShortcutTarget = false;
    ExpectFindings(SampleText(), {{true, 17, "zln_shortcut"}}, none);
    none.baseHasShortcutTarget = true;
    ExpectFindings(SampleText(), {}, none);
    StringsCheckContext readme;
    readme.packNames = {"FILES\\README.TXT", "PATCH.INI"};
    ExpectFindings(Join(off), {}, readme);
}

TEST(StringsCheck, APatchWithoutFilesIsAnError)
{
    StringsCheckContext stringsOnly;
    stringsOnly.packNames = {"PATCH.INI"};
    std::vector<std::string> off = SampleLines();
    off.back() = "zln_shortcut = 0";
    ExpectFindings(Join(off), {{true, 0, ""}}, stringsOnly);
    ExpectFindings(Join(off), {{true, 0, ""}}, StringsCheckContext{});
}

TEST(StringsCheck, TextsSavedAsUtf8AreErrors)
{
    // "e acute" as UTF-8, on the line and key that hold it.
    ExpectFindings(With("done", "Mis \xC3\xA0 jour"), {{true, 10, "done"}});
    ExpectFindings(With("wronglang", "\xE2\x82\xAC \xF0\x9F\x98\x80"), {{true, 12, "wronglang"}});
    // A byte order mark before a comment line: the file is UTF-8.
    ExpectFindings("\xEF\xBB\xBF\r\n" + SampleText(), {{true, 1, ""}});
    // Windows-1252 letters, and bytes that are no well-formed UTF-8
    // (overlong, surrogate, cut short), pass.
    ExpectFindings(With("done", "Mis \xE0 jour, \xE9t\xE9"), {});
    ExpectFindings(With("done", "\xC0\xAF \xED\xA0\x80 \xE2\x82"), {});
}

} // namespace
