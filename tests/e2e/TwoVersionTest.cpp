// A patch built from two versions of the game: qptool diff and build agree on
// what goes in (new and changed files, names compared without regard to
// letter case), and the patch applied by the patch program to a copy of the
// old folder leaves every file of the new folder as it is there.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "ChildProcess.h"
#include "SampleInstall.h"
#include "TestFiles.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Every file below folder by lower-case relative path.
std::map<std::string, std::string> Files(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[Lower(fs::relative(entry.path(), folder).generic_string())] = ReadFile(entry.path().string());
    return files;
}

struct Outcome {
    int code;
    std::string output;
};

Outcome Start(const std::string& program, const std::vector<std::string>& args,
          const std::map<std::string, const char*>& environment = {})
{
    ChildProcess child(program, args, environment);
    child.CloseStdin();
    std::string output = child.ReadAll();
    return {child.Wait(), output};
}

TEST(TwoVersions, ThePatchTurnsTheOldFolderIntoTheNewOne)
{
    TempDir temp{"two-versions"};
    const std::string root = temp.Path();
    const std::string before = root + "/old", after = root + "/new";
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 / 3);
    WriteFile(before + "/Quor.exe", "QUOR 1.01 game program");
    WriteFile(before + "/readme.txt", "QUOR 1.01\r\n");
    WriteFile(before + "/maps/Kingsfall.map", big);
    WriteFile(before + "/maps/same.map", "unchanged map");
    WriteFile(before + "/Sounds/Intro.WAV", std::string(5000, 'w'));
    WriteFile(before + "/data/Old.txt", "only in 1.01");
    WriteFile(before + "/Sounds/Keep.wav", "kept by --keep");
    WriteFile(before + "/zln/zavovudiz.exe", "client");
    WriteFile(after + "/Quor.exe", "QUOR 1.05 game program");
    WriteFile(after + "/README.TXT", "QUOR 1.05\r\n");
    WriteFile(after + "/maps/kingsfall.map", big);
    WriteFile(after + "/maps/same.map", "unchanged map");
    WriteFile(after + "/maps/campaign/intro.txt", "The kingdom has fallen.\r\n");
    std::string changed = big;
    changed[big.size() - 1] ^= 1;
    WriteFile(after + "/maps/big.map", changed);
    WriteFile(before + "/maps/big.map", big);
    WriteFile(after + "/sounds/intro.wav", std::string(5000, 'W'));
    WriteFile(after + "/zln/zavovudiz.exe", "client");

    const Outcome diff = Start(QP_TOOL, {"diff", "--base", before, "--from", after, "--keep", "sounds\\keep.wav"});
    ASSERT_EQ(diff.code, 0) << diff.output;
    for (const char* line :
         {"changed   Quor.exe\n", "changed   README.TXT\n", "new       maps/campaign/intro.txt\n", "changed   maps/big.map\n",
          "left out  maps/kingsfall.map (", "left out  maps/same.map (", "changed   sounds/intro.wav\n",
          "left out  zln/zavovudiz.exe (", "remove    data/Old.txt (", "stays     Sounds/Keep.wav (kept)",
          "1 new and 4 changed files carried"})
        EXPECT_NE(diff.output.find(line), std::string::npos) << line << "\n" << diff.output;

    const std::string patch = root + "/QuorPatch.exe";
    const Outcome build = Start(QP_TOOL, {"build", "--stub", QP_PATCHER, "--strings",
                                      std::string(QP_EXAMPLES) + "/sample-patch/Patch.ini", "--base", before, "--from",
                                      after, "--keep", "Sounds/Keep.wav", "--out", patch});
    ASSERT_EQ(build.code, 0) << build.output;
    EXPECT_NE(build.output.find("left out  maps/same.map ("), std::string::npos) << build.output;
    EXPECT_EQ(build.output.find("changed   "), std::string::npos) << build.output;
    const Outcome list = Start(QP_TOOL, {"list", patch});
    ASSERT_EQ(list.code, 0) << list.output;
    EXPECT_NE(list.output.find("8 entries"), std::string::npos) << list.output;  // REMOVE among them

    // Apply it to a copy of the old folder.
    const std::string driveC = root + "/c";
    const std::string game = HostPathOf(driveC, "C:\\Games\\Quor\\");
    fs::create_directories(fs::path(game).parent_path());
    fs::copy(before, game, fs::copy_options::recursive);
    fs::create_directories(HostPathOf(driveC, "C:\\Menu\\Programs"));
    fs::create_directories(root + "/mutex");
    const std::string registry = root + "/registry.reg";
    sample::GameKey key;
    key.path = std::string("C:\\Games\\Quor\\");
    key.gameVersion = 0x10001u;
    WriteFile(registry, sample::RegistryText({key}));
    const Outcome applied = Start(patch, {},
                              {{"W32_DRIVE_C", driveC.c_str()},
                               {"W32_REGISTRY_FILE", registry.c_str()},
                               {"W32_ANSWERS", "yes,ok"},
                               {"W32_MUTEX_DIR", (root + "/mutex").c_str()},
                               {"W32_PROGRAMS_DIR", "C:\\Menu\\Programs"},
                               {"W32_TRANSCRIPT", (root + "/transcript.jsonl").c_str()}});
    ASSERT_EQ(applied.code, 0) << ReadFile(root + "/transcript.jsonl");

    const std::map<std::string, std::string> result = Files(game);
    for (const auto& [name, content] : Files(after)) {
        const auto now = result.find(name);
        ASSERT_NE(now, result.end()) << name << " is missing after the patch";
        EXPECT_TRUE(now->second == content) << name << " differs from the new version";
    }
    // What only the old version had goes, with the folder it leaves empty,
    // but the file kept.
    EXPECT_EQ(result.count("data/old.txt"), 0u);
    EXPECT_FALSE(fs::exists(game + "/data"));
    EXPECT_EQ(result.at("sounds/keep.wav"), "kept by --keep");
    EXPECT_EQ(result.size(), Files(after).size() + 1);
}

TEST(TwoVersions, AFileWhereTheNewVersionNeedsAFolderIsRefused)
{
    TempDir temp{"two-versions"};
    const std::string root = temp.Path();
    WriteFile(root + "/old/Quor.exe", "1.01");
    WriteFile(root + "/old/maps", "a file");
    WriteFile(root + "/new/Quor.exe", "1.05");
    WriteFile(root + "/new/Maps/a.map", "a map");
    const Outcome diff = Start(QP_TOOL, {"diff", "--base", root + "/old", "--from", root + "/new"});
    EXPECT_EQ(diff.code, 1) << diff.output;
    EXPECT_NE(diff.output.find("conflict  Maps/a.map"), std::string::npos) << diff.output;
    const Outcome build = Start(QP_TOOL, {"build", "--stub", QP_PATCHER, "--strings",
                                      std::string(QP_EXAMPLES) + "/sample-patch/Patch.ini", "--base", root + "/old",
                                      "--from", root + "/new", "--out", root + "/patch.exe"});
    EXPECT_EQ(build.code, 1);
    EXPECT_FALSE(fs::exists(root + "/patch.exe"));
}

}  // namespace
}  // namespace e2e
