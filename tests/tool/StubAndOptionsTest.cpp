// What qptool takes as a stub (a patcher, nothing else), and that every
// subcommand answers --help and refuses unknown options without creating or
// changing anything.
#include "TempDir.h"
#include "framework/LittleEndian.h"
#include "ChildProcess.h"
#include "RunPrefix.h"
#include "FakePatcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void Store16(std::string& bytes, size_t at, unsigned value)
{
    StoreU16(reinterpret_cast<uint8_t*>(&bytes[at]), static_cast<uint16_t>(value));
}

// A PE image: the MS-DOS header pointing at "PE\0\0" at 0x80, the file
// header's characteristics and the optional header's subsystem set.
std::string FakePe(unsigned subsystem, unsigned characteristics, bool marker)
{
    std::string bytes = FakePatcher(4096);
    std::fill(bytes.begin(), bytes.begin() + 0x200, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = static_cast<char>(0x80);
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    Store16(bytes, 0x80 + 22, characteristics);
    Store16(bytes, 0x80 + 24, 0x10B);
    Store16(bytes, 0x80 + 24 + 68, subsystem);
    if (!marker)
        bytes.replace(100, 24, std::string(24, 'm'));
    else
        bytes.replace(0x300, 24, FakePatcher(200).substr(100, 24));
    return bytes;
}

class ToolRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(root_ / "work");
        WriteText(root_ / "in" / "Files" / "zln" / "zavovudiz.exe", "client");
        fs::copy_file(fs::path(QP_SAMPLE_PATCH) / "Patch.ini", root_ / "in" / "Patch.ini");
    }

    // Runs qptool in the folder work; the exit code, stdout and stderr together.
    int Run(const std::vector<std::string>& args, std::string* output)
    {
        std::string line = "cd " + ShellQuoted((root_ / "work").string()) + " && exec " + ShellCommandFor(QPTOOL);
        for (const std::string& arg : args)
            line += " " + ShellQuoted(arg);
        ChildProcess tool("/bin/sh", {"-c", line + " 2>&1"});
        tool.CloseStdin();
        *output = tool.ReadAll();
        return tool.Wait();
    }
    int BuildWithStub(const fs::path& stub, std::string* output)
    {
        return Run({"build", "--stub", stub.string(), "--from", (root_ / "in").string(), "--out",
                    (root_ / "work" / "patch.exe").string()},
                   output);
    }
    bool WorkIsEmpty() const { return fs::is_empty(root_ / "work"); }

    TempDir temp_{"tool"};  // removed with all it holds when the test ends
    fs::path root_{temp_.Path()};
};

TEST_F(ToolRun, OnlyAPatcherIsTakenAsTheStub)
{
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"README", "# QUOR patch\nRead me first.\n"},
        {"empty", ""},
        {"console.exe", FakePe(3, 0x0102, true)},
        {"library.dll", FakePe(2, 0x2102, true)},
        {"other.exe", FakePe(2, 0x0102, false)},
        {"dos.exe", "MZ" + std::string(200, '\0')},
        {"core", FakePatcher(300).replace(16, 2, std::string("\x04\0", 2))},
        {"elf-without-marker", FakePatcher(300).replace(100, 24, std::string(24, 'x'))},
    };
    const std::vector<std::string> reasons = {"no program", "no program", "console", "library",
                                              "marker", "PE header", "object file", "marker"};
    for (size_t i = 0; i < refused.size(); ++i) {
        WriteText(root_ / refused[i].first, refused[i].second);
        std::string output;
        EXPECT_EQ(BuildWithStub(root_ / refused[i].first, &output), 1) << refused[i].first;
        EXPECT_NE(output.find("is no patcher"), std::string::npos) << output;
        EXPECT_NE(output.find(reasons[i]), std::string::npos) << refused[i].first << ": " << output;
        EXPECT_TRUE(WorkIsEmpty()) << refused[i].first;
    }
    // The tool itself looks for the marker but must not carry it.
    std::string output;
    EXPECT_EQ(BuildWithStub(QPTOOL, &output), 1);
    EXPECT_NE(output.find("marker"), std::string::npos) << output;
    EXPECT_TRUE(WorkIsEmpty());

    WriteText(root_ / "gui.exe", FakePe(2, 0x0102, true));
    EXPECT_EQ(BuildWithStub(root_ / "gui.exe", &output), 0) << output;
#ifdef QPPATCHER
    EXPECT_EQ(BuildWithStub(QPPATCHER, &output), 0) << output;
#endif
}

TEST_F(ToolRun, EverySubcommandAnswersHelpAndRefusesUnknownOptions)
{
    std::string list;
    ASSERT_EQ(Run({"help"}, &list), 0);
    std::vector<std::string> commands;
    for (size_t at = list.find("\n  "); at != std::string::npos; at = list.find("\n  ", at + 1)) {
        const size_t start = at + 3;
        if (list[start] != ' ')
            commands.push_back(list.substr(start, list.find(' ', start) - start));
    }
    for (const char* expected : {"build", "check", "extract", "list", "sample-install", "verify"})
        EXPECT_NE(std::find(commands.begin(), commands.end(), expected), commands.end()) << expected << "\n" << list;

    for (const std::string& command : commands) {
        std::string output;
        EXPECT_EQ(Run({command, "--help"}, &output), 0) << command << ": " << output;
        EXPECT_EQ(output.rfind("usage: qptool " + command + " ", 0), 0u) << output;
        EXPECT_EQ(Run({command, "target", "-h"}, &output), 0) << command;
        EXPECT_EQ(Run({"help", command}, &output), 0) << command;
        EXPECT_EQ(output.rfind("usage: qptool " + command + " ", 0), 0u) << output;
        EXPECT_EQ(Run({command, "target", "--bogus", "other"}, &output), 1) << command;
        EXPECT_NE(output.find("unknown option \"--bogus\""), std::string::npos) << output;
        EXPECT_EQ(Run({command, "-x", "target"}, &output), 1) << command;
        EXPECT_TRUE(WorkIsEmpty()) << command << " left something behind";
    }
    // An option that needs a value, given none.
    std::string output;
    EXPECT_EQ(Run({"build", "--stub"}, &output), 1);
    EXPECT_NE(output.find("--stub needs a value"), std::string::npos) << output;
    EXPECT_EQ(Run({"check", "--base"}, &output), 1);
    EXPECT_NE(output.find("--base needs a value"), std::string::npos) << output;
    EXPECT_TRUE(WorkIsEmpty());
}

} // namespace
