#include "app/RunOptions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Line {
    const char* commandLine;
    bool understood;
    RunMode mode;
    const char* logPath;
    const char* refused;
};

// The program's path is skipped however it is written (quoted with blanks,
// bare, a quoted path holding a slash word); names compare in any case; a
// quoted log path keeps its blanks; any other word is refused by name, the
// switches around it still read.
TEST(RunOptions, ReadsTheSwitchesBehindTheProgramsPath) {
    const RunMode none = RunMode::kInteractive, silent = RunMode::kSilent, very = RunMode::kVerySilent;
    const Line lines[] = {
        {"\"C:\\Patches\\Quor Patch.exe\"", true, none, "", ""},
        {"\"C:\\a b\\p.exe\"   ", true, none, "", ""},
        {"p.exe /silent", true, silent, "", ""},
        {"\"C:\\x /VERYSILENT\\p.exe\" /Silent", true, silent, "", ""},
        {"p.exe /SILENT /VerySilent /silent", true, very, "", ""},
        {"p.exe\t/LOG=\"C:\\My Logs\\patch.log\" /VERYSILENT", true, very, "C:\\My Logs\\patch.log", ""},
        {"p.exe /log=C:\\p.log", true, none, "C:\\p.log", ""},
        {"p.exe /LOG", false, none, "", "/LOG"},
        {"p.exe /LOG=", false, none, "", "/LOG="},
        {"p.exe /SILENTLY /LOG=C:\\l.txt", false, none, "C:\\l.txt", "/SILENTLY"},
        {"p.exe \"C:\\Patches\\Other.exe\" /VERYSILENT", false, very, "", "C:\\Patches\\Other.exe"},
        {"p.exe -silent", false, none, "", "-silent"},
        {"\"unterminated /SILENT", true, none, "", ""},
    };
    for (const Line& line : lines) {
        RunOptions options;
        EXPECT_EQ(ParseRunOptions(line.commandLine, &options), line.understood) << line.commandLine;
        EXPECT_EQ(options.mode, line.mode) << line.commandLine;
        EXPECT_STREQ(options.logPath, line.logPath) << line.commandLine;
        EXPECT_STREQ(options.refused, line.refused) << line.commandLine;
    }
    RunOptions options;
    const std::string overlong = "p.exe /LOG=" + std::string(300, 'x') + " /SILENT";
    EXPECT_FALSE(ParseRunOptions(overlong.c_str(), &options));
    EXPECT_EQ(options.mode, RunMode::kSilent);
    EXPECT_EQ(options.logPath[0], '\0');
}

}  // namespace
