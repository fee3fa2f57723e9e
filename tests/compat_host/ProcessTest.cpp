// The command line, the entry point shim, the module file name and the ANSI
// code page conversions.
#include "ChildProcess.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <unistd.h>

namespace {

std::string OwnPath()
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(Process, TheCommandLineStartsWithTheOwnAbsolutePathInQuotes)
{
    const std::string line = GetCommandLineA();
    const std::string quoted = "\"" + OwnPath() + "\"";
    ASSERT_EQ(line.compare(0, quoted.size(), quoted), 0) << line;
    EXPECT_EQ(line[1], '/');

    char name[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, sizeof name), OwnPath().size());
    EXPECT_EQ(name, OwnPath());
    char small[4];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(small), OwnPath().substr(0, 3));
}

// Names fold ASCII case; an unknown or empty name keeps its '%', and the
// next '%' may open a name.
TEST(Process, ExpandEnvironmentStringsReplacesKnownNamesOnly)
{
    setenv("QP_EXPAND_DRIVE", "C:", 1);
    const char source[] = "%qp_expand_drive%\\Games\\%NOPE%%QP_EXPAND_DRIVE%%";
    char out[64];
    EXPECT_EQ(ExpandEnvironmentStringsA(source, out, sizeof out), 19u);
    EXPECT_STREQ(out, "C:\\Games\\%NOPE%C:%");
    char small[8] = "kept";
    EXPECT_EQ(ExpandEnvironmentStringsA(source, small, sizeof small), 19u);
    EXPECT_STREQ(small, "kept");
    EXPECT_EQ(ExpandEnvironmentStringsA("plain", out, sizeof out), 6u);
    EXPECT_STREQ(out, "plain");
    unsetenv("QP_EXPAND_DRIVE");
}

TEST(Process, WinMainGetsTheArgumentsTheModuleAndSW_SHOWNORMAL)
{
    ChildProcess child(W32_WINMAIN_ECHO, {"a", "b c", "say \"hi\""});
    child.CloseStdin();
    const std::string output = child.ReadAll();
    EXPECT_EQ(child.Wait(), 3);
    EXPECT_NE(output.find("cmdline=[a \"b c\" \"say \\\"hi\\\"\"]\n"), std::string::npos) << output;
    EXPECT_NE(output.find("show=1\ninstance=module\nprevious=null\n"), std::string::npos) << output;
    EXPECT_NE(output.find("full=[\"" W32_WINMAIN_ECHO "\" a "), std::string::npos) << output;
}

TEST(Process, AParentMayChooseTheWholeCommandLine)
{
    ChildProcess child(W32_WINMAIN_ECHO, {"ignored"}, {{"W32_COMMAND_LINE", "\"C:\\Games\\other.exe\" x"}});
    child.CloseStdin();
    const std::string output = child.ReadAll();
    child.Wait();
    EXPECT_NE(output.find("cmdline=[x]\n"), std::string::npos) << output;
    EXPECT_NE(output.find("full=[\"C:\\Games\\other.exe\" x]"), std::string::npos) << output;
}

TEST(CodePage, AnsiToWideUsesWindows1252)
{
    const char text[] = "Quor \x80\xE9";
    WCHAR wide[16];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 16), 8);
    EXPECT_EQ(wide[0], L'Q');
    EXPECT_EQ(wide[5], static_cast<WCHAR>(0x20AC));
    EXPECT_EQ(wide[6], static_cast<WCHAR>(0xE9));
    EXPECT_EQ(wide[7], 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0), 8);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 7), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    char back[16];
    BOOL replaced = TRUE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 16, nullptr, &replaced), 8);
    EXPECT_STREQ(back, text);
    EXPECT_FALSE(replaced);
    const WCHAR foreign[] = {0x4E2D, 0};
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, foreign, -1, back, 16, nullptr, &replaced), 2);
    EXPECT_TRUE(replaced);
    EXPECT_STREQ(back, "?");
}

} // namespace
