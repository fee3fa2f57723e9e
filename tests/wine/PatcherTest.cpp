// The patch program as a real Windows executable under Wine, next to the
// Linux build over the host layer: one sample patch built by qptool from the
// same folder with either patcher as its stub, the same scenario on both,
// and the demand that boxes, files, registry and shortcut agree. The texts
// come from the sample patch's own strings file.
#include "PatchScenario.h"
#include "WineTest.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>

using namespace winebox;

namespace {

struct BuiltPatches {
    std::string error;
    std::string windowsPatch, hostPatch, strings, dir;
};

// Builds both patches once for the whole test process.
const BuiltPatches& Patches(const std::string& tool, const std::string& windowsStub,
                            const std::string& linuxStub, const std::string& sample) {
    static BuiltPatches built;
    if (!built.dir.empty()) return built;
    built.dir = MakeTempDir("qppatches");
    built.strings = sample + "/Patch.ini";
    built.windowsPatch = built.dir + "/QuorPatch105.exe";
    built.hostPatch = built.dir + "/quorpatch105";
    const std::pair<std::string, std::string> jobs[] = {{windowsStub, built.windowsPatch}, {linuxStub, built.hostPatch}};
    for (const auto& [stub, out] : jobs) {
        CommandResult r = RunCommand(
            {tool, "build", "--stub", stub, "--strings", built.strings, "--files", sample + "/Files", "--out", out},
            {}, 120);
        if (!r.finished || r.exitCode != 0) built.error += "qptool build --stub " + stub + ": " + r.output;
    }
    chmod(built.hostPatch.c_str(), 0755);
    return built;
}

}  // namespace

class PatcherUnderWine : public WineTest {
protected:
    PatcherUnderWine() : WineTest({"QP_TOOL", "QP_WINE_PATCHER", "QP_LINUX_PATCHER", "QP_SAMPLE_PATCH"}) {}

    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        patches_ = &Patches(Input("QP_TOOL"), Input("QP_WINE_PATCHER"), Input("QP_LINUX_PATCHER"),
                            Input("QP_SAMPLE_PATCH"));
        ASSERT_TRUE(patches_->error.empty()) << patches_->error;
    }

    std::string Text(const std::string& key) const { return StringsValue(patches_->strings, key); }

    // Runs the scenario on both builds and checks that they agree; the Wine run.
    Observation RunBoth(Scenario scenario, const std::string& windowsPatch = "", const std::string& linuxPatch = "") {
        scenario.patch = linuxPatch.empty() ? patches_->hostPatch : linuxPatch;
        Observation onLinux = RunOnLinux(scenario);
        scenario.patch = windowsPatch.empty() ? patches_->windowsPatch : windowsPatch;
        Observation onWine = RunOnWine(Prefix(), scenario);
        EXPECT_TRUE(onLinux.error.empty()) << onLinux.error;
        EXPECT_TRUE(onWine.error.empty()) << onWine.error;
        EXPECT_EQ(onWine.exitCode, onLinux.exitCode);
        EXPECT_EQ(onWine.boxes, onLinux.boxes);
        EXPECT_EQ(onWine.files, onLinux.files);
        EXPECT_EQ(onWine.gameVersion, onLinux.gameVersion);
        EXPECT_EQ(onWine.links, onLinux.links);
        // Wine's shell writes no relative path; every other field must agree.
        for (size_t i = 0; i < onWine.linkFields.size() && i < onLinux.linkFields.size(); ++i) {
            const LnkFields &w = onWine.linkFields[i], &l = onLinux.linkFields[i];
            EXPECT_EQ(w.targetPath, l.targetPath);
            EXPECT_EQ(w.description, l.description);
            EXPECT_EQ(w.workingDirectory, l.workingDirectory);
            EXPECT_EQ(w.iconLocation, l.iconLocation);
            EXPECT_EQ(w.iconIndex, l.iconIndex);
        }
        return onWine;
    }

    std::string Box(const std::string& caption, const std::string& text, uint32_t type, const std::string& answer) {
        return TranscriptLine(caption, text, type, answer);
    }

    const BuiltPatches* patches_ = nullptr;
};

TEST_F(PatcherUnderWine, CompleteUpdate) {
    Scenario scenario;
    scenario.answers = {"yes", "ok"};
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 0);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_NE(seen.boxes[0].find("QUOR version installed: 1.01"), std::string::npos) << seen.boxes[0];
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("done"), 0, "ok"));
    EXPECT_EQ(seen.gameVersion, std::stoul(Text("ver"), nullptr, 16));
    EXPECT_NE(seen.files.find("/ZLN/ZAVOVUDIZ.EXE "), std::string::npos) << seen.files;
    ASSERT_EQ(seen.links, std::vector<std::string>{"/" + Text("zln_name") + ".lnk"});
    EXPECT_EQ(seen.linkFields[0].targetPath, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(seen.linkFields[0].description, Text("zln_name"));
}

TEST_F(PatcherUnderWine, DeclinedWelcomeChangesNothing) {
    Scenario scenario;
    scenario.answers = {"no"};
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 255);
    ASSERT_EQ(seen.boxes.size(), 1u);
    EXPECT_NE(seen.boxes[0].find("\"type\":68,\"answer\":\"no\""), std::string::npos) << seen.boxes[0];
    EXPECT_EQ(seen.gameVersion, 0x10001u);
    EXPECT_TRUE(seen.links.empty());
    EXPECT_EQ(seen.files.find("ZLN"), std::string::npos) << seen.files;
}

TEST_F(PatcherUnderWine, PatcherWithoutPayloadIsBroken) {
    Scenario scenario;
    scenario.answers = {"ok"};
    Observation seen = RunBoth(scenario, Input("QP_WINE_PATCHER"), Input("QP_LINUX_PATCHER"));
    EXPECT_EQ(seen.exitCode, 255);
    EXPECT_EQ(seen.boxes, std::vector<std::string>{Box("QUOR Patch", "Patch file is broken!", 0, "ok")});
    EXPECT_EQ(seen.gameVersion, 0x10001u);
}

TEST_F(PatcherUnderWine, NewerGameNeedsNoUpdate) {
    Scenario scenario;
    scenario.answers = {"yes", "ok"};
    scenario.gameVersion = "00010006";
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 255);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("noneed"), 0x10, "ok"));
    EXPECT_EQ(seen.gameVersion, 0x10006u);
    EXPECT_TRUE(seen.links.empty());
}

TEST_F(PatcherUnderWine, IgnoredCopyFailureLeavesTheUpdateIncomplete) {
    // A folder where the readme should go: it cannot be opened as a file on either system.
    Scenario scenario;
    scenario.answers = {"yes", "ignore", "ok"};
    scenario.prepare = [](const std::string& game) { mkdir((game + "/README-1.05.TXT").c_str(), 0755); };
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 0);
    ASSERT_EQ(seen.boxes.size(), 3u);
    std::string failed = Text("errcopy");
    failed.replace(failed.find("%s"), 2, "README-1.05.TXT");
    EXPECT_EQ(seen.boxes[1], Box("Error", failed, 0x22, "ignore"));
    EXPECT_EQ(seen.boxes[2], Box(Text("title"), Text("errnotcomplete"), 0, "ok"));
    EXPECT_EQ(seen.gameVersion, 0x10001u);
    EXPECT_TRUE(seen.links.empty());
    EXPECT_NE(seen.files.find("/ZLN/ZAVOVUDIZ.EXE "), std::string::npos) << seen.files;
}

namespace {

void SetDosAttributes(const std::string& path, const char* text) {
    setxattr(path.c_str(), "user.DOSATTRIB", text, std::strlen(text), 0);
}

bool AnyFileNamed(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        std::string child = entry->d_name;
        if (child == "." || child == "..") continue;
        struct stat st;
        std::string path = folder + "/" + child;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (strcasecmp(child.c_str(), name.c_str()) == 0 || (S_ISDIR(st.st_mode) && AnyFileNamed(path, name)))
            found = true;
        if (found) break;
    }
    closedir(dir);
    return found;
}

}  // namespace

// Read-only, hidden and system game files are replaced by both builds, and
// are normal files afterwards; a temporary file that a killed run left
// beside a target is gone.
TEST_F(PatcherUnderWine, GuardedTargetsAreReplacedAndLeftoversRemoved) {
    Scenario scenario;
    scenario.answers = {"yes", "ok"};
    scenario.prepare = [](const std::string& game) {
        mkdir((game + "/maps").c_str(), 0755);
        mkdir((game + "/zln").c_str(), 0755);
        WriteWholeFile(game + "/Readme-1.05.txt", "old readme");
        SetDosAttributes(game + "/Readme-1.05.txt", "0x2");
        WriteWholeFile(game + "/maps/kingsfall.map", "old map");
        SetDosAttributes(game + "/maps/kingsfall.map", "0x4");
        WriteWholeFile(game + "/zln/zavovudiz.exe", "old client");
        chmod((game + "/zln/zavovudiz.exe").c_str(), 0444);
        WriteWholeFile(game + "/maps/kingsfall.map.~qp", "what a killed run left");
    };
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 0);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("done"), 0, "ok"));
    EXPECT_EQ(seen.files.find(".~qp"), std::string::npos) << seen.files;
    EXPECT_EQ(seen.files.find(" R"), std::string::npos) << seen.files;
    EXPECT_EQ(seen.files.find(" H"), std::string::npos) << seen.files;
    EXPECT_EQ(seen.files.find(" S"), std::string::npos) << seen.files;
    for (const char* old : {"old readme", "old map", "old client"}) {
        std::string size = " " + std::to_string(std::strlen(old)) + " ";
        EXPECT_EQ(seen.files.find(size), std::string::npos) << old << " left in " << seen.files;
    }
}

// A copy that fails keeps a read-only system file whole, attributes
// included: here a folder holds the temporary file's name, so the copy
// cannot even start.
TEST_F(PatcherUnderWine, AFailedCopyKeepsTheOldFileAndItsAttributes) {
    Scenario scenario;
    scenario.answers = {"yes", "ignore", "ok"};
    scenario.prepare = [](const std::string& game) {
        mkdir((game + "/maps").c_str(), 0755);
        WriteWholeFile(game + "/maps/kingsfall.map", "old map");
        SetDosAttributes(game + "/maps/kingsfall.map", "0x4");
        chmod((game + "/maps/kingsfall.map").c_str(), 0444);
        mkdir((game + "/maps/KINGSFALL.MAP.~qp").c_str(), 0755);
    };
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 0);
    ASSERT_EQ(seen.boxes.size(), 3u);
    std::string failed = Text("errcopy");
    failed.replace(failed.find("%s"), 2, "MAPS\\KINGSFALL.MAP");
    EXPECT_EQ(seen.boxes[1], Box("Error", failed, 0x22, "ignore"));
    EXPECT_EQ(seen.gameVersion, 0x10001u);
    EXPECT_NE(seen.files.find("/maps/kingsfall.map 7 "), std::string::npos) << seen.files;
    EXPECT_NE(seen.files.find(" R S"), std::string::npos) << seen.files;
}

// A shortcut name that is a path is refused by both builds: no link in
// Programs, none anywhere else.
TEST_F(PatcherUnderWine, ShortcutNameThatIsAPathMakesNoLink) {
    std::string dir = MakeTempDir("qpzln");
    std::string strings = ReadWholeFile(patches_->strings);
    size_t at = strings.find("zln_name = ");
    ASSERT_NE(at, std::string::npos);
    strings.replace(at, strings.find('\n', at) - at, "zln_name = ..\\..\\EvilLink\r");
    WriteWholeFile(dir + "/Patch.ini", strings);
    std::string windowsPatch = dir + "/evil.exe", linuxPatch = dir + "/evil";
    for (const auto& [stub, out] : {std::make_pair(Input("QP_WINE_PATCHER"), windowsPatch),
                                    std::make_pair(Input("QP_LINUX_PATCHER"), linuxPatch)}) {
        CommandResult r = RunCommand({Input("QP_TOOL"), "build", "--stub", stub, "--strings", dir + "/Patch.ini",
                                      "--files", Input("QP_SAMPLE_PATCH") + "/Files", "--out", out, "--allow-errors"},
                                     {}, 120);
        ASSERT_TRUE(r.finished && r.exitCode == 0) << r.output;
    }
    chmod(linuxPatch.c_str(), 0755);
    Scenario scenario;
    scenario.answers = {"yes", "ok"};
    Observation seen = RunBoth(scenario, windowsPatch, linuxPatch);
    EXPECT_EQ(seen.exitCode, 0);
    EXPECT_TRUE(seen.links.empty());
    EXPECT_FALSE(AnyFileNamed(Prefix().DriveC(), "EvilLink.lnk"));
    RemoveTree(dir);
}
