// qptool build run as a program: real patches from folders on disk, found by
// the patcher's scan and read back entry by entry, and the refusals, each of
// which leaves no output behind.
#include "CodeImage.h"
#include "TempDir.h"
#include "ChildProcess.h"
#include "CrcForge.h"
#include "FakePatcher.h"
#include "PatchCheck.h"

#include "DeltaEncode.h"
#include "VectorFile.h"
#include "payload/Delta.h"
#include "payload/DeltaKey.h"
#include "payload/PackWriter.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <utime.h>

namespace fs = std::filesystem;

namespace {

fs::path SamplePatchIni() { return fs::path(QP_SAMPLE_PATCH) / "Patch.ini"; }

class BuildTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteText(root_ / "patcher", FakePatcher(30000));
        fs::create_directories(root_ / "in");
        fs::copy_file(SamplePatchIni(), root_ / "in" / "Patch.ini");
    }

    // Runs qptool build with the arguments; the exit code, stderr to *message.
    int Build(std::vector<std::string> args, std::string* message = nullptr,
              std::map<std::string, const char*> environment = {{"TZ", "UTC"}})
    {
        args.insert(args.begin(), "build");
        const std::string log = (root_ / "stderr.txt").string();
        ChildProcess tool(QPTOOL, args, environment, log);
        tool.CloseStdin();
        tool.ReadAll();
        const int code = tool.Wait();
        if (message != nullptr) {
            const std::vector<uint8_t> text = ReadBytes(log);
            message->assign(text.begin(), text.end());
        }
        return code;
    }
    // Runs qptool with the arguments; the exit code, stdout to *out.
    int Tool(const std::vector<std::string>& args, std::string* out = nullptr)
    {
        ChildProcess tool(QPTOOL, args, {{"TZ", "UTC"}});
        tool.CloseStdin();
        const std::string text = tool.ReadAll();
        if (out != nullptr)
            *out = text;
        return tool.Wait();
    }
    int BuildFrom(const std::string& folder, std::string* message = nullptr)
    {
        return Build({"--stub", (root_ / "patcher").string(), "--from", folder, "--out", Out()}, message);
    }
    std::string Out() const { return (root_ / "out" / "patch.exe").string(); }
    // Nothing but the files the test put there: no output, no temporary.
    void ExpectNoOutput() const
    {
        for (const auto& entry : fs::directory_iterator(root_ / "out"))
            ADD_FAILURE() << "left behind: " << entry.path();
    }

    TempDir temp_{"tool"};  // removed with all it holds when the test ends
    fs::path root_{temp_.Path()};
};

TEST_F(BuildTest, AOneBytePatchIsFoundAndReadsBack)
{
    WriteText(root_ / "in" / "Files" / "a.txt", "x");
    utimbuf times{981173106, 981173106};
    utime((root_ / "in" / "Files" / "a.txt").c_str(), &times);
    fs::create_directories(root_ / "out");
    ASSERT_EQ(BuildFrom((root_ / "in").string()), 0);

    const std::vector<uint8_t> patch = ReadBytes(Out());
    const std::vector<uint8_t> stub = ReadBytes(root_ / "patcher");
    ASSERT_GT(patch.size(), stub.size());
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), patch.begin()));
    EXPECT_EQ(fs::status(Out()).permissions(), fs::status(root_ / "patcher").permissions());
    uint32_t offset = 0;
    ASSERT_TRUE(FindPayload(patch, &offset));
    EXPECT_EQ(offset, 32768u);
    OpenedPatch opened(patch, offset);
    ASSERT_TRUE(opened.Opened());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(opened.Read("FILES\\A.TXT", &bytes));
    EXPECT_EQ(bytes, std::vector<uint8_t>{'x'});
    ASSERT_TRUE(opened.Read("Patch.ini", &bytes));
    EXPECT_EQ(bytes, ReadBytes(SamplePatchIni()));

    // The date table follows the directory; FILES\A.TXT is the first entry.
    std::vector<uint8_t> head(40);
    opened.Pack().packFile->ReadAt(head.data(), 0, 40, nullptr);
    const uint32_t directorySize = head[36] | head[37] << 8 | head[38] << 16 | static_cast<uint32_t>(head[39]) << 24;
    uint8_t time[4];
    opened.Pack().packFile->ReadAt(time, 40 + directorySize, 4, nullptr);
    EXPECT_EQ(time[0] | time[1] << 8 | time[2] << 16 | static_cast<uint32_t>(time[3]) << 24, 0x2A4320A3u);
}

TEST_F(BuildTest, ALargeTreeIsFoundAndEveryFileReadsBack)
{
    std::mt19937 random(7);
    std::map<std::string, std::string> files;
    for (int i = 0; i < 150; ++i) {
        const std::string folder = i % 3 == 0 ? "" : i % 3 == 1 ? "Data/" : "Data/Deep/Er/";
        const std::string name = folder + "File" + std::to_string(i) + (i % 2 ? ".bin" : ".Txt");
        const size_t size = i % 10 == 0 ? 70000 + i : static_cast<size_t>(random() % 9000);
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = i % 2 ? static_cast<char>(random()) : static_cast<char>('a' + random() % 4);
        WriteText(root_ / "in" / "Files" / name, bytes);
        files[name] = bytes;
    }
    fs::create_directories(root_ / "out");
    std::string message;
    ASSERT_EQ(Build({"--stub", (root_ / "patcher").string(), "--strings", (root_ / "in" / "Patch.ini").string(),
                     "--files", (root_ / "in" / "Files").string(), "--out", Out()},
                    &message),
              0);
    // Standard error is a file here, not a terminal: no progress line.
    EXPECT_EQ(message.find('\r'), std::string::npos) << message;
    EXPECT_EQ(message.find("MB/s"), std::string::npos) << message;
    const std::vector<uint8_t> patch = ReadBytes(Out());
    uint32_t offset = 0;
    ASSERT_TRUE(FindPayload(patch, &offset));
    OpenedPatch opened(patch, offset);
    ASSERT_TRUE(opened.Opened());
    for (const auto& [name, bytes] : files) {
        std::string packName = "FILES\\" + name;
        for (char& c : packName)
            c = c == '/' ? '\\' : c;
        std::vector<uint8_t> back;
        ASSERT_TRUE(opened.Read(packName.c_str(), &back)) << packName;
        EXPECT_EQ(std::string(back.begin(), back.end()), bytes) << packName;
    }
}

TEST_F(BuildTest, AMissingStringsFileIsRefused)
{
    fs::remove(root_ / "in" / "Patch.ini");
    WriteText(root_ / "in" / "Files" / "a.txt", "x");
    fs::create_directories(root_ / "out");
    std::string message;
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("Patch.ini is missing"), std::string::npos) << message;
    ExpectNoOutput();
}

TEST_F(BuildTest, NamesThePackCannotCarryAreRefused)
{
    fs::create_directories(root_ / "out");
    for (const char* bad : {"a:b.txt", "CON.txt", "caf\xc3\xa9.txt", "dot.", "map.~qp", "COM0", "conin$.log"}) {
        fs::remove_all(root_ / "in" / "Files");
        WriteText(root_ / "in" / "Files" / "sub" / bad, "x");
        std::string message;
        EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1) << bad;
        EXPECT_NE(message.find("cannot carry"), std::string::npos) << message;
        ExpectNoOutput();
    }
    fs::remove_all(root_ / "in" / "Files");
    WriteText(root_ / "in" / "Files" / std::string(246, 'n'), "x");
    std::string message;
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("longer than 250"), std::string::npos) << message;
}

TEST_F(BuildTest, NamesThatDifferOnlyInCaseAreRefused)
{
    WriteText(root_ / "in" / "Files" / "Readme.txt", "1");
    WriteText(root_ / "in" / "Files" / "README.TXT", "2");
    fs::create_directories(root_ / "out");
    std::string message;
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("differ only in letter case"), std::string::npos) << message;
    ExpectNoOutput();

    fs::remove_all(root_ / "in" / "Files");
    WriteText(root_ / "in" / "Files" / "data", "file");
    WriteText(root_ / "in" / "Files" / "DATA" / "x.bin", "in a folder");
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    ExpectNoOutput();
}

// The largest pack the patcher reads is 4 GiB - 1 bytes: a larger one is
// refused before anything is written, naming the file that passes the limit
// and the limit. Sparse sources: nothing of them is read.
TEST_F(BuildTest, APackPastTheLimitIsRefusedBeforeAnythingIsWritten)
{
    WriteText(Out(), "old patch");
    for (const char* name : {"a.bin", "b.bin"}) {
        WriteText(root_ / "in" / "Files" / name, "");
        fs::resize_file(root_ / "in" / "Files" / name, 2100ull << 20);
    }
    std::string message;
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("b.bin: the pack would reach 4404019"), std::string::npos) << message;
    EXPECT_NE(message.find("a pack of at most 4294967295 bytes (4 GiB - 1); no patch written"), std::string::npos)
        << message;
    // check refuses it as build does.
    ChildProcess check(QPTOOL, {"check", (root_ / "in").string()}, {{"TZ", "UTC"}}, (root_ / "check.txt").string());
    check.CloseStdin();
    check.ReadAll();
    EXPECT_EQ(check.Wait(), 1);
    const std::vector<uint8_t> refusal = ReadBytes(root_ / "check.txt");
    EXPECT_NE(std::string(refusal.begin(), refusal.end()).find("b.bin: the pack would reach 4404019"),
              std::string::npos);
    const std::vector<uint8_t> old = ReadBytes(Out());
    EXPECT_EQ(std::string(old.begin(), old.end()), "old patch");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "out"), fs::directory_iterator()), 1);

    fs::remove(root_ / "in" / "Files" / "b.bin");
    fs::resize_file(root_ / "in" / "Files" / "a.bin", 4ull << 30);
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("a.bin is 4 GiB or larger"), std::string::npos) << message;
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "out"), fs::directory_iterator()), 1);
}

TEST_F(BuildTest, AStubWithAHeaderIsRefusedAndAnOldOutputStays)
{
    std::string stub = FakePatcher(20000);
    stub.replace(9000, 12, std::string("LZSS\0\0\0\0\0\x80\0\0", 12));
    WriteText(root_ / "patcher", stub);
    WriteText(root_ / "in" / "Files" / "a.txt", "x");
    WriteText(Out(), "old patch");
    std::string message;
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("offset 9000"), std::string::npos) << message;
    const std::vector<uint8_t> old = ReadBytes(Out());
    EXPECT_EQ(std::string(old.begin(), old.end()), "old patch");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "out"), fs::directory_iterator()), 1);
}

TEST_F(BuildTest, AStringsFileWithErrorsStopsTheBuild)
{
    WriteText(root_ / "in" / "Files" / "zln" / "zavovudiz.exe", "client");
    const std::vector<uint8_t> sample = ReadBytes(SamplePatchIni());
    std::string strings(sample.begin(), sample.end());
    strings.replace(strings.find("ver = 10005"), 11, "ver = -1");
    WriteText(root_ / "in" / "Patch.ini", strings);
    fs::create_directories(root_ / "out");
    std::string message;
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("Patch.ini:2: error: \"ver\" = \"-1\""), std::string::npos) << message;
    EXPECT_NE(message.find("no patch written"), std::string::npos) << message;
    ExpectNoOutput();

    // An empty strings file too.
    WriteText(root_ / "in" / "Patch.ini", "");
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("no section [str]"), std::string::npos) << message;
    ExpectNoOutput();

    // On request the patch is built all the same, the errors still listed.
    EXPECT_EQ(Build({"--stub", (root_ / "patcher").string(), "--from", (root_ / "in").string(), "--out", Out(),
                     "--allow-errors"},
                    &message),
              0);
    EXPECT_NE(message.find("no section [str]"), std::string::npos) << message;
    EXPECT_TRUE(fs::exists(Out()));
}

TEST_F(BuildTest, APatchWithoutFilesOrSavedAsUtf8IsRefused)
{
    std::vector<uint8_t> sample = ReadBytes(SamplePatchIni());
    std::string strings(sample.begin(), sample.end());
    strings.replace(strings.find("zln_shortcut = 1"), 16, "zln_shortcut = 0");
    WriteText(root_ / "in" / "Patch.ini", strings);
    fs::create_directories(root_ / "in" / "Files");
    fs::create_directories(root_ / "out");
    std::string message;
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("error: the patch carries no files"), std::string::npos) << message;
    ExpectNoOutput();
    EXPECT_EQ(Build({"--stub", (root_ / "patcher").string(), "--from", (root_ / "in").string(), "--out", Out(),
                     "--allow-errors"},
                    &message),
              0);
    EXPECT_TRUE(fs::exists(Out()));
    fs::remove(Out());

    // A text saved as UTF-8: file, line and key named, nothing written.
    WriteText(root_ / "in" / "Files" / "a.txt", "x");
    strings.replace(strings.find("done = "), 7, "done = Mise \xC3\xA0 jour. ");
    WriteText(root_ / "in" / "Patch.ini", strings);
    EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1);
    EXPECT_NE(message.find("Patch.ini:10: error: \"done\" holds UTF-8"), std::string::npos) << message;
    ExpectNoOutput();
}

TEST_F(BuildTest, SymbolicLinksInsideTheTreeAreFollowedOthersRefusedByName)
{
    const fs::path files = root_ / "in" / "Files";
    WriteText(files / "a.txt", "alpha");
    WriteText(files / "maps" / "m.map", "map");
    fs::create_directories(files / "sub");
    fs::create_symlink("../a.txt", files / "sub" / "b.txt");
    fs::create_directory_symlink("../maps", files / "sub" / "maps2");
    fs::create_directories(root_ / "out");
    std::string message;
    ASSERT_EQ(BuildFrom((root_ / "in").string(), &message), 0) << message;
    const std::vector<uint8_t> patch = ReadBytes(Out());
    uint32_t offset = 0;
    ASSERT_TRUE(FindPayload(patch, &offset));
    OpenedPatch opened(patch, offset);
    ASSERT_TRUE(opened.Opened());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(opened.Read("FILES\\SUB\\B.TXT", &bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "alpha");
    ASSERT_TRUE(opened.Read("FILES\\SUB\\MAPS2\\M.MAP", &bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "map");
    fs::remove(Out());

    // Out of the tree, nowhere, or a loop: refused naming the link, nothing written.
    WriteText(root_ / "outside.txt", "secret");
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"../../../outside.txt", "leads out of"}, {"missing.txt", "leads nowhere"}, {"..", "a loop"}};
    for (const auto& [target, why] : bad) {
        fs::remove(files / "sub" / "link");
        fs::create_symlink(target, files / "sub" / "link");
        EXPECT_EQ(BuildFrom((root_ / "in").string(), &message), 1) << target;
        EXPECT_NE(message.find("symbolic link " + (files / "sub" / "link").string()), std::string::npos) << message;
        EXPECT_NE(message.find(why), std::string::npos) << message;
        ExpectNoOutput();
    }
}

TEST_F(BuildTest, CheckFindsTheSameInAFolderAndInABuiltPatch)
{
    WriteText(root_ / "in" / "Files" / "a.txt", "x");
    fs::create_directories(root_ / "out");
    // The sample's strings, whose shortcut target this patch lacks: a warning.
    std::string message;
    ASSERT_EQ(BuildFrom((root_ / "in").string(), &message), 0) << message;
    EXPECT_NE(message.find("Patch.ini:17: warning: \"zln_shortcut\""), std::string::npos) << message;

    const std::string folder = (root_ / "in").string();
    std::string out;
    EXPECT_EQ(Tool({"check", folder}, &out), 0);
    EXPECT_NE(out.find("Patch.ini:17: warning: \"zln_shortcut\""), std::string::npos) << out;
    EXPECT_EQ(Tool({"check", Out()}, &out), 0);
    EXPECT_NE(out.find(Out() + ":PATCH.INI:17: warning: \"zln_shortcut\""), std::string::npos) << out;

    // A base installation without the target makes it an error.
    WriteText(root_ / "old" / "Quor.exe", "game");
    EXPECT_EQ(Tool({"check", "--base", (root_ / "old").string(), Out()}, &out), 1);
    EXPECT_NE(out.find(":17: error: \"zln_shortcut\""), std::string::npos) << out;
    WriteText(root_ / "old" / "ZLN" / "Zavovudiz.EXE", "client");
    EXPECT_EQ(Tool({"check", "--base", (root_ / "old").string(), Out()}, &out), 0);
    EXPECT_EQ(out, Out() + ": OK\n");

    // A patch built with errors is reported by check as well.
    WriteText(root_ / "in" / "Patch.ini", "[str]\r\ntitle = Patch\r\n");
    ASSERT_EQ(Build({"--stub", (root_ / "patcher").string(), "--from", folder, "--out", Out(), "--allow-errors"}),
              0);
    EXPECT_EQ(Tool({"check", Out()}, &out), 1);
    EXPECT_NE(out.find(":PATCH.INI:1: error: \"welcome\" is missing"), std::string::npos) << out;
    EXPECT_EQ(Tool({"check", folder}, &out), 1);
    EXPECT_NE(out.find("Patch.ini:1: error: \"welcome\" is missing"), std::string::npos) << out;
}

TEST_F(BuildTest, TheSameTreeGivesTheSameBytes)
{
    for (int i = 0; i < 40; ++i)
        WriteText(root_ / "in" / "Files" / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i)),
            std::string(static_cast<size_t>(i) * 997, static_cast<char>('a' + i % 26)));
    WriteText(root_ / "in" / "Files" / "zln" / "zavovudiz.exe", "client");
    fs::create_directories(root_ / "out");
    const std::vector<std::string> args{"--stub", (root_ / "patcher").string(), "--from", (root_ / "in").string(),
                                        "--out", Out()};
    ASSERT_EQ(Build(args), 0);
    const std::vector<uint8_t> first = ReadBytes(Out());
    ASSERT_EQ(Build(args), 0);
    EXPECT_TRUE(ReadBytes(Out()) == first);

    // A copy of the tree made later (other times, other folder) in another
    // time zone: the same bytes once SOURCE_DATE_EPOCH fixes the times.
    const std::map<std::string, const char*> epochUtc{{"TZ", "UTC"}, {"SOURCE_DATE_EPOCH", "1000000000"}};
    const std::map<std::string, const char*> epochTokyo{{"TZ", "JST-9"}, {"SOURCE_DATE_EPOCH", "1000000000"}};
    ASSERT_EQ(Build(args, nullptr, epochUtc), 0);
    const std::vector<uint8_t> fixed = ReadBytes(Out());
    EXPECT_FALSE(fixed == first);
    fs::copy(root_ / "in", root_ / "copy", fs::copy_options::recursive);
    utimbuf times{1500000000, 1500000000};
    utime((root_ / "copy" / "Files" / "d1" / "f5").c_str(), &times);
    ASSERT_EQ(Build({"--stub", (root_ / "patcher").string(), "--from", (root_ / "copy").string(), "--out", Out()},
                    nullptr, epochTokyo),
              0);
    EXPECT_TRUE(ReadBytes(Out()) == fixed);

    // Every entry carries 2001-09-09 01:46:40, the epoch's UTC time.
    const std::vector<uint8_t> patch = ReadBytes(Out());
    uint32_t offset = 0;
    ASSERT_TRUE(FindPayload(patch, &offset));
    OpenedPatch opened(patch, offset);
    ASSERT_TRUE(opened.Opened());
    std::vector<uint8_t> head(40);
    opened.Pack().packFile->ReadAt(head.data(), 0, 40, nullptr);
    const uint32_t count = head[32] | head[33] << 8;
    const uint32_t directorySize = head[36] | head[37] << 8 | head[38] << 16 | static_cast<uint32_t>(head[39]) << 24;
    std::vector<uint8_t> dates(4 * count);
    opened.Pack().packFile->ReadAt(dates.data(), 40 + directorySize, 4 * count, nullptr);
    for (uint32_t k = 0; k < count; ++k)
        EXPECT_EQ(dates[4 * k] | dates[4 * k + 1] << 8 | dates[4 * k + 2] << 16 |
                      static_cast<uint32_t>(dates[4 * k + 3]) << 24,
                  0x2B290DD4u)
            << k;

    std::string message;
    fs::remove(Out());
    EXPECT_EQ(Build(args, &message, {{"SOURCE_DATE_EPOCH", "yesterday"}}), 1);
    EXPECT_NE(message.find("SOURCE_DATE_EPOCH"), std::string::npos) << message;
    ExpectNoOutput();
}

TEST_F(BuildTest, UnknownOrMissingArgumentsAreRefused)
{
    std::string message;
    EXPECT_EQ(Build({"--stub", (root_ / "patcher").string()}, &message), 1);
    EXPECT_NE(message.find("--out"), std::string::npos) << message;
    EXPECT_EQ(Build({"--bogus"}, &message), 1);
    EXPECT_NE(message.find("unknown option"), std::string::npos) << message;
}

} // namespace

namespace {

// A content with its last bytes replaced: a delta of it is small.
std::string Varied(size_t size, uint32_t seed, char tail)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 23);
    }
    if (tail)
        bytes.replace(size - 100, 100, 100, tail);
    return bytes;
}

// Two installed versions and the new one: the map differs in each, the sound
// is the same in both, the readme is too small for a delta, new.txt is new.
class DeltaBuildTest : public BuildTest {
protected:
    void SetUp() override
    {
        BuildTest::SetUp();
        const std::map<std::string, char> tails{{"1.03", 'a'}, {"1.04", 'b'}, {"new", 0}};
        for (const auto& [version, tail] : tails) {
            const fs::path folder = root_ / version;
            WriteText(folder / "maps" / "big.map", Varied(50000, 7, tail));
            WriteText(folder / "Sounds" / "intro.wav", Varied(30000, 9, tail ? 'o' : 0));
            WriteText(folder / "readme.txt", "QUOR " + version);
            WriteText(folder / "zln" / "zavovudiz.exe", "client");
        }
        WriteText(root_ / "new" / "new.txt", "only new");
        WriteText(root_ / "in" / "Patch.ini", Window("10003"));
        fs::create_directories(root_ / "out");
    }
    // The sample strings with another "vermin".
    static std::string Window(const std::string& vermin)
    {
        const std::vector<uint8_t> sample = ReadBytes(SamplePatchIni());
        std::string text(sample.begin(), sample.end());
        return text.replace(text.find("vermin = 10001"), 14, "vermin = " + vermin);
    }
    std::vector<std::string> Bases() const
    {
        return {"--base", "1.03=" + (root_ / "1.03").string(), "--base", "1.04=" + (root_ / "1.04").string()};
    }
    int BuildDelta(std::vector<std::string> extra = {}, std::string* message = nullptr)
    {
        std::vector<std::string> args{"--stub", (root_ / "patcher").string(), "--strings",
                                      (root_ / "in" / "Patch.ini").string()};
        for (const std::string& base : Bases())
            args.push_back(base);
        args.insert(args.end(), {"--from", (root_ / "new").string(), "--out", Out()});
        args.insert(args.end(), extra.begin(), extra.end());
        return Build(args, message);
    }
    // The inputs of every build form, the same for build and check.
    struct InputForm {
        std::string name;
        std::vector<std::string> inputs;
    };
    std::vector<InputForm> InputForms() const
    {
        const std::string strings = (root_ / "in" / "Patch.ini").string(), neu = (root_ / "new").string();
        std::vector<std::string> versioned{"--strings", strings};
        for (const std::string& base : Bases())
            versioned.push_back(base);
        versioned.insert(versioned.end(), {"--from", neu});
        std::vector<std::string> whole = versioned;
        whole.push_back("--whole");
        return {{"--from", {"--from", (root_ / "in").string()}},
                {"--files", {"--strings", strings, "--files", (root_ / "in" / "Files").string()}},
                {"--base folder", {"--strings", strings, "--base", (root_ / "1.03").string(), "--from", neu}},
                {"--base version", versioned},
                {"--whole", whole}};
    }
    // qptool build from the form's inputs; the exit code, stderr to *message.
    int BuildForm(const InputForm& form, std::string* message)
    {
        std::vector<std::string> args{"--stub", (root_ / "patcher").string(), "--out", Out()};
        args.insert(args.end(), form.inputs.begin(), form.inputs.end());
        return Build(args, message);
    }
    // The source folder's Files, the new version and the two versions before it.
    std::vector<fs::path> Trees() const
    {
        return {root_ / "in" / "Files", root_ / "new", root_ / "1.03", root_ / "1.04"};
    }
    // A file at relative in every tree, changed a little in each version:
    // the two-version form carries it as deltas.
    void Place(const std::string& relative)
    {
        const char tails[] = {0, 0, 'a', 'b'};
        for (size_t t = 0; t < Trees().size(); ++t)
            WriteText(Trees()[t] / relative, Varied(50000, 3, tails[t]));
    }
    // qptool check with the arguments: the exit code, standard output and
    // error to *text.
    int Check(std::vector<std::string> args, std::string* text)
    {
        args.insert(args.begin(), "check");
        const std::string log = (root_ / "check-stderr.txt").string();
        ChildProcess tool(QPTOOL, args, {{"TZ", "UTC"}}, log);
        tool.CloseStdin();
        *text = tool.ReadAll();
        const int code = tool.Wait();
        const std::vector<uint8_t> error = ReadBytes(log);
        text->append(error.begin(), error.end());
        return code;
    }
    // The line of text from what on, or "" without it.
    static std::string LineFrom(const std::string& text, const std::string& what)
    {
        const size_t at = text.find(what);
        return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
    }
    static size_t Count(const std::string& text, const std::string& what)
    {
        size_t count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++count;
        return count;
    }
};

TEST_F(DeltaBuildTest, OneDeltaPerDistinctOldContentWhichVerifyRebuilds)
{
    std::string message, out;
    ASSERT_EQ(BuildDelta({}, &message), 0) << message;
    ASSERT_EQ(Tool({"list", Out()}, &out), 0);
    // Map: one delta per base; sound: one shared; readme and new.txt whole.
    EXPECT_EQ(Count(out, "DELTAS\\MAPS\\BIG.MAP\\0000C350"), 2u) << out;
    EXPECT_EQ(Count(out, "DELTAS\\SOUNDS\\INTRO.WAV\\00007530"), 1u) << out;
    EXPECT_EQ(Count(out, "delta: old "), 3u) << out;
    EXPECT_EQ(Count(out, ", new 50000 bytes CRC-32 0x"), 2u) << out;
    EXPECT_EQ(Count(out, ", BLAKE3 of both"), 3u) << out;
    EXPECT_NE(out.find("FILES\\README.TXT"), std::string::npos) << out;
    EXPECT_NE(out.find("FILES\\NEW.TXT"), std::string::npos) << out;
    EXPECT_EQ(out.find("FILES\\MAPS"), std::string::npos) << out;
    EXPECT_EQ(out.find("ZAVOVUDIZ"), std::string::npos) << out;

    ASSERT_EQ(Tool({"diff", Bases()[0], Bases()[1], Bases()[2], Bases()[3], "--from", (root_ / "new").string()}, &out),
              0);
    EXPECT_NE(out.find("delta     maps/big.map from 1.03: "), std::string::npos) << out;
    EXPECT_NE(out.find("delta     maps/big.map from 1.04: "), std::string::npos) << out;
    EXPECT_NE(out.find("delta     Sounds/intro.wav from 1.03,1.04: "), std::string::npos) << out;
    EXPECT_NE(out.find("whole     new.txt (not in 1.03)"), std::string::npos) << out;
    EXPECT_NE(out.find("2 files carried whole, 2 as 3 deltas"), std::string::npos) << out;

    ASSERT_EQ(Tool({"verify", Bases()[0], Bases()[1], Bases()[2], Bases()[3], Out()}, &out), 0) << out;
    EXPECT_NE(out.find("base 1.03: 2 files rebuilt with their CRC-32, 0 already new"), std::string::npos) << out;
    EXPECT_NE(out.find("base 1.04: 2 files rebuilt"), std::string::npos) << out;
    // The new version is already new; a base with a changed map proves nothing.
    ASSERT_EQ(Tool({"verify", "--base", "1.05=" + (root_ / "new").string(), Out()}, &out), 0) << out;
    EXPECT_NE(out.find("0 files rebuilt with their CRC-32, 2 already new"), std::string::npos) << out;
    WriteText(root_ / "1.04" / "maps" / "big.map", Varied(50000, 7, 'm'));
    EXPECT_EQ(Tool({"verify", Bases()[2], Bases()[3], Out()}, &out), 1);
    EXPECT_NE(out.find("MAPS\\BIG.MAP of 1.04 (50000 bytes, CRC-32 0x"), std::string::npos) << out;
    EXPECT_NE(out.find("matches no delta, and the patch has no whole copy"), std::string::npos) << out;
    // A base edited and its CRC-32 fixed up: its key's BLAKE3 tells.
    std::vector<uint8_t> forged = ReadBytes(root_ / "1.03" / "maps" / "big.map");
    const uint32_t crc = Crc32(forged.data(), forged.size());
    forged[1000] ^= 0x20;
    ForgeCrc32(&forged, 2000, crc);
    WriteText(root_ / "1.03" / "maps" / "big.map", std::string(forged.begin(), forged.end()));
    EXPECT_EQ(Tool({"verify", Bases()[0], Bases()[1], Out()}, &out), 1);
    EXPECT_NE(out.find("MAPS\\BIG.MAP of 1.03 has the size and CRC-32 of DELTAS\\MAPS\\BIG.MAP\\0000C350"),
              std::string::npos) << out;
    EXPECT_NE(out.find("but not its BLAKE3"), std::string::npos) << out;
}

TEST_F(DeltaBuildTest, APatchOfDeltasAloneChangesTheGameAndIsBuilt)
{
    // Only the map and the program differ, and a pack is renamed into another
    // folder: nothing goes whole, the pack goes as a delta from its old path
    // (the patch removes that), and the patch still rebuilds them all; list
    // tells the program's deltas by their predicted references.
    unsigned seed = 0;
    for (const char* version : {"1.03", "1.04", "new"}) {
        WriteText(root_ / version / "readme.txt", "QUOR");
        WriteText(root_ / version / "Sounds" / "intro.wav", Varied(30000, 9, 'o'));
        std::vector<uint32_t> gaps(300, 16);
        for (uint32_t f = ++seed; f < gaps.size(); f += 7) gaps[f] = 48;
        const std::vector<uint8_t> program = testcode::CodeImage(false, gaps, 7);
        WriteText(root_ / version / "game.exe", std::string(program.begin(), program.end()));
    }
    fs::remove(root_ / "new" / "new.txt");
    for (const char* version : {"1.03", "1.04"})
        WriteText(root_ / version / "data" / "units-1.4.pak", Varied(40000, 5, 'u'));
    WriteText(root_ / "new" / "packs" / "units_v2.pak", Varied(40000, 5, 'v'));
    std::string message, out;
    ASSERT_EQ(BuildDelta({}, &message), 0) << message;
    ASSERT_EQ(Tool({"list", Out()}, &out), 0);
    EXPECT_EQ(out.find("FILES\\"), std::string::npos) << out;
    EXPECT_EQ(Count(out, "DELTAS\\MAPS\\BIG.MAP\\"), 2u) << out;
    EXPECT_EQ(Count(out, "delta from data\\units-1.4.pak: old 40000 bytes"), 1u) << out;
    EXPECT_NE(out.find("remove: data\\units-1.4.pak while"), std::string::npos) << out;
    EXPECT_EQ(Count(out, "DELTAS\\GAME.EXE\\"), 2u) << out;
    EXPECT_EQ(Count(out, ", BLAKE3 of both, machine code references predicted\n"), 2u) << out;
    ASSERT_EQ(Tool({"diff", Bases()[0], Bases()[1], Bases()[2], Bases()[3], "--from", (root_ / "new").string()}, &out),
              0);
    EXPECT_NE(out.find("delta     packs/units_v2.pak from data/units-1.4.pak of 1.03,1.04: "), std::string::npos)
        << out;
    ASSERT_EQ(Tool({"verify", Bases()[0], Bases()[1], Bases()[2], Bases()[3], Out()}, &out), 0) << out;
    EXPECT_NE(out.find("base 1.04: 3 files rebuilt with their CRC-32"), std::string::npos) << out;
    EXPECT_EQ(Tool({"check", Bases()[0], Bases()[1], Bases()[2], Bases()[3], Out()}, &out), 0) << out;
}

TEST_F(DeltaBuildTest, WholeCarriesEveryChangedFileAsBefore)
{
    std::string message, out;
    ASSERT_EQ(BuildDelta({"--whole"}, &message), 0) << message;
    ASSERT_EQ(Tool({"list", Out()}, &out), 0);
    EXPECT_EQ(out.find("DELTAS"), std::string::npos) << out;
    for (const char* name : {"FILES\\MAPS\\BIG.MAP", "FILES\\SOUNDS\\INTRO.WAV", "FILES\\README.TXT", "FILES\\NEW.TXT"})
        EXPECT_NE(out.find(name), std::string::npos) << name << "\n" << out;
    EXPECT_EQ(Tool({"check", "--whole", Bases()[0], Bases()[1], Bases()[2], Bases()[3], Out()}, &out), 0) << out;
}

TEST_F(DeltaBuildTest, AVersionWindowWithAVersionWithoutBaseIsRefused)
{
    // 1.01 and 1.02 pass the version check but have no base.
    WriteText(root_ / "in" / "Patch.ini", Window("10001"));
    std::string message, out;
    EXPECT_EQ(BuildDelta({}, &message), 1);
    EXPECT_NE(message.find("admits 1.01, 1.02, which no --base names"), std::string::npos) << message;
    ExpectNoOutput();
    // As check finds it, in the source folder (Files: the new version) and in
    // a patch built all the same.
    fs::rename(root_ / "new", root_ / "in" / "Files");
    EXPECT_EQ(Tool({"check", Bases()[0], Bases()[1], Bases()[2], Bases()[3], (root_ / "in").string()}, &out), 1);
    EXPECT_NE(out.find("admits 1.01, 1.02, which no --base names"), std::string::npos) << out;
    fs::rename(root_ / "in" / "Files", root_ / "new");
    ASSERT_EQ(BuildDelta({"--allow-errors"}, &message), 0) << message;
    EXPECT_EQ(Tool({"check", Bases()[0], Bases()[1], Bases()[2], Bases()[3], Out()}, &out), 1);
    EXPECT_NE(out.find(":PATCH.INI: error: \"vermin\" to \"ver\" admits 1.01, 1.02,"), std::string::npos) << out;
    // Whole files serve every version; a window from 1.03 has its bases.
    ASSERT_EQ(BuildDelta({"--whole"}, &message), 0) << message;
    EXPECT_EQ(Tool({"check", Bases()[0], Bases()[1], Bases()[2], Bases()[3], Out()}, &out), 0) << out;
    WriteText(root_ / "in" / "Patch.ini", Window("10003"));
    ASSERT_EQ(BuildDelta({}, &message), 0) << message;
    EXPECT_EQ(Tool({"check", Bases()[0], Bases()[1], Bases()[2], Bases()[3], Out()}, &out), 0) << out;
    EXPECT_EQ(Tool({"check", Bases()[2], Bases()[3], Out()}, &out), 1) << out;
    EXPECT_NE(out.find("admits 1.03, which no --base names"), std::string::npos) << out;
}

// A pack whose delta is damaged (no checksum entry to refuse it first):
// verify --base fails exactly when the patcher refuses the delta: its key's
// digest no longer the base's, or the applier refusing it (a byte the coder
// never reads changes nothing); always for a cut delta, a lying header and
// damaged digest bytes.
TEST_F(DeltaBuildTest, VerifyRefusesADamagedDelta)
{
    const std::vector<uint8_t> old = ReadBytes(root_ / "1.03" / "maps" / "big.map");
    const std::vector<uint8_t> neu = ReadBytes(root_ / "new" / "maps" / "big.map");
    const std::vector<uint8_t> delta = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 1);
    char key[kDeltaKeyLength + 1];
    FormatDeltaKey(static_cast<uint32_t>(old.size()), Crc32(old.data(), old.size()), key);
    const std::string name = std::string("DELTAS\\MAPS\\BIG.MAP\\") + key;
    const std::vector<uint8_t> strings = ReadBytes(root_ / "in" / "Patch.ini");
    std::mt19937 random(18);
    int refused = 0;
    for (int round = 0; round < 12; ++round) {
        std::vector<uint8_t> damaged = delta;
        if (round == 0)
            damaged.resize(damaged.size() / 2);
        else if (round == 1)
            damaged[12] ^= 1; // the new size
        else if (round == 2)
            damaged[kDeltaHeaderSize + 3] ^= 1; // the old file's digest
        else if (round == 3)
            damaged[kDeltaHeaderSize + kDeltaDigestSize + 3] ^= 1; // the new file's
        else
            damaged[24 + random() % (damaged.size() - 24)] ^= static_cast<uint8_t>(1 + random() % 255);
        const PackWriterEntry entries[] = {{name.c_str(), damaged.data(), static_cast<uint32_t>(damaged.size()), 0},
                                           {"PATCH.INI", strings.data(), static_cast<uint32_t>(strings.size()), 0}};
        uint8_t* image = nullptr;
        uint32_t imageSize = 0;
        ASSERT_EQ(BuildPackImage(entries, 2, &image, &imageSize), nullptr);
        WriteText(root_ / "damaged.pak", std::string(image, image + imageSize));
        g_pDefaultPtrPool->Free(image);
        CVectorFile oldFile, deltaFile, result;
        oldFile.data = old;
        deltaFile.data = damaged;
        const bool oldDigestKept = std::equal(delta.begin() + kDeltaHeaderSize,
                                              delta.begin() + kDeltaHeaderSize + kDeltaDigestSize,
                                              damaged.begin() + kDeltaHeaderSize);
        const bool applies = oldDigestKept && ApplyDelta(&oldFile, &deltaFile, &result) == nullptr;
        EXPECT_TRUE(round > 3 || !applies) << round;
        EXPECT_TRUE(!applies || result.data == neu) << round;
        refused += applies ? 0 : 1;
        std::string out;
        EXPECT_EQ(Tool({"verify", Bases()[0], Bases()[1], (root_ / "damaged.pak").string()}, &out), applies ? 0 : 1)
            << "round " << round << "\n" << out;
        if (!applies) {
            EXPECT_NE(out.find("MAPS\\BIG.MAP of 1.03"), std::string::npos) << out;
        }
    }
    EXPECT_GE(refused, 8);
}

// Every path a patch writes meets the patcher's own rule in every build
// form, deltas included, and check refuses exactly what build refuses.
TEST_F(DeltaBuildTest, EveryBuildFormAndCheckHoldCarriedNamesToOneRule)
{
    const std::vector<std::pair<std::string, bool>> names = {
        {"con.txt", false},  {"nul .txt", false},       {"COM0", false},          {"CONIN$", false},
        {"trail.", false},   {"trail ", false},         {"a:b.txt", false},       {"caf\xc3\xa9.txt", false},
        {"map.~qp", false},  {"deep/LPT1.log", false},  {"dir.~qp/x.txt", false}, {"console.txt", true},
        {"COM10", true}};
    for (const auto& [name, carried] : names)
        for (const InputForm& form : InputForms()) {
            SCOPED_TRACE(form.name + ": \"" + name + "\"");
            Place(name);
            std::string message, text;
            EXPECT_EQ(BuildForm(form, &message), carried ? 0 : 1) << message;
            EXPECT_EQ(Check(form.inputs, &text), carried ? 0 : 1) << text;
            if (!carried) {
                EXPECT_NE(LineFrom(message, "cannot carry "), "") << message;
                EXPECT_EQ(LineFrom(message, "cannot carry "), LineFrom(text, "cannot carry ")) << text;
                ExpectNoOutput();
            }
            fs::remove(Out());
            for (const fs::path& tree : Trees())
                fs::remove_all(tree / *fs::path(name).begin());
        }
    // A pack from an earlier tool that carried such names as deltas: check
    // names each entry the patcher would not write.
    const std::vector<uint8_t> strings = ReadBytes(root_ / "in" / "Patch.ini");
    const uint8_t bytes[] = {'x'};
    const PackWriterEntry entries[] = {{"DELTAS\\NUL .TXT\\0000000100000000", bytes, 1, 0},
                                       {"FILES\\CON.TXT", bytes, 1, 0},
                                       {"FILES\\MAPS\\OK.MAP", bytes, 1, 0},
                                       {"PATCH.INI", strings.data(), static_cast<uint32_t>(strings.size()), 0}};
    uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    ASSERT_EQ(BuildPackImage(entries, 4, &image, &imageSize), nullptr);
    WriteText(root_ / "old.pak", std::string(image, image + imageSize));
    g_pDefaultPtrPool->Free(image);
    std::string text;
    EXPECT_EQ(Check({(root_ / "old.pak").string()}, &text), 1) << text;
    EXPECT_NE(text.find("DELTAS\\NUL .TXT\\0000000100000000: the patcher writes no file of that name: \"NUL .TXT\" "
                        "is a device name"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("FILES\\CON.TXT: the patcher writes no file"), std::string::npos) << text;
    EXPECT_EQ(text.find("OK.MAP"), std::string::npos) << text;
}

// Links as dpkg -x leaves them, in the version folders and the source
// folder: followed inside the tree under their own names in every form; one
// that leads out is refused naming it, by build and check alike.
TEST_F(DeltaBuildTest, SymbolicLinksInEveryFormAreFollowedInsideAndRefusedOutside)
{
    for (const fs::path& tree : Trees()) {
        WriteText(tree / "docs" / "a.txt", "docs of " + tree.filename().string());
        fs::create_symlink("a.txt", tree / "docs" / "b.txt");
        fs::create_directory_symlink("docs", tree / "linked");
    }
    for (const InputForm& form : InputForms()) {
        SCOPED_TRACE(form.name);
        std::string message, text;
        ASSERT_EQ(BuildForm(form, &message), 0) << message;
        ASSERT_EQ(Tool({"list", Out()}, &text), 0);
        EXPECT_NE(text.find("FILES\\DOCS\\B.TXT"), std::string::npos) << text;
        EXPECT_NE(text.find("FILES\\LINKED\\A.TXT"), std::string::npos) << text;
        EXPECT_EQ(Check(form.inputs, &text), 0) << text;
        fs::remove(Out());
    }
    WriteText(root_ / "outside.txt", "secret");
    for (const fs::path& tree : {root_ / "in" / "Files", root_ / "new"})
        fs::create_symlink(root_ / "outside.txt", tree / "docs" / "out.txt");
    for (const InputForm& form : InputForms()) {
        SCOPED_TRACE(form.name);
        std::string message, text;
        EXPECT_EQ(BuildForm(form, &message), 1) << message;
        EXPECT_NE(message.find("out.txt (to " + (root_ / "outside.txt").string() + "): it leads out of"),
                  std::string::npos)
            << message;
        EXPECT_EQ(Check(form.inputs, &text), 1) << text;
        EXPECT_EQ(LineFrom(message, "cannot carry "), LineFrom(text, "cannot carry ")) << text;
        ExpectNoOutput();
    }
}

// Standard output and error in one file: every line whole, in the order
// written (the plan, then the strings file's findings, then the patch).
TEST_F(DeltaBuildTest, LinesStayWholeWhenBothStreamsShareAFile)
{
    for (int i = 0; i < 300; ++i)
        WriteText(root_ / "new" / "extra" / ("file" + std::to_string(i) + ".dat"), std::to_string(i));
    // An error in the strings file: the shortcut's target in no version but 1.03.
    fs::remove_all(root_ / "1.04" / "zln");
    fs::remove_all(root_ / "new" / "zln");
    std::vector<std::string> args{"build", "--stub", (root_ / "patcher").string(), "--out", Out(), "--allow-errors"};
    const std::vector<std::string> versioned = InputForms()[3].inputs;
    args.insert(args.end(), versioned.begin(), versioned.end());
    SpawnOptions options;
    options.stdoutPath = options.stderrPath = (root_ / "both.txt").string();
    ChildProcess tool;
    std::string error;
    ASSERT_TRUE(tool.Start(PrefixedCommand(QPTOOL, args), options, &error)) << error;
    ASSERT_EQ(tool.Wait(), 0);
    const std::vector<uint8_t> bytes = ReadBytes(root_ / "both.txt");
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_GT(lines.size(), 300u) << text.str();
    for (size_t i = 0; i + 3 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].rfind("whole     ", 0) == 0 || lines[i].rfind("delta     ", 0) == 0 ||
                    lines[i].rfind("stays     ", 0) == 0)
            << lines[i];
    EXPECT_NE(lines[lines.size() - 3].find(" files carried whole, "), std::string::npos) << text.str();
    EXPECT_NE(lines[lines.size() - 2].find("Patch.ini:17: error: \"zln_shortcut\""), std::string::npos)
        << lines[lines.size() - 2];
    EXPECT_EQ(lines.back().rfind(Out() + ": ", 0), 0u) << lines.back();
}

} // namespace
