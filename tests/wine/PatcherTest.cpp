// The patch program as a real Windows executable under Wine, next to the
// Linux build over the host layer: one sample patch built by qptool from the
// same folder with either patcher as its stub, the same scenario on both,
// and the demand that boxes, files, registry and shortcut agree. The texts
// come from the sample patch's own strings file.
#include "PatchScenario.h"
#include "WineTest.h"

#include <sys/stat.h>

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
        EXPECT_EQ(onWine.gameVersion64, onLinux.gameVersion64);
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
    // The key lies in the 32-bit view alone, and the new version lands there.
    EXPECT_EQ(seen.gameVersion, std::stoul(Text("ver"), nullptr, 16));
    EXPECT_EQ(seen.gameVersion64, std::nullopt);
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

TEST_F(PatcherUnderWine, KeyOnlyIn64BitViewIsNoGame) {
    Scenario scenario;
    scenario.answers = {"yes", "ok"};
    scenario.keyView = KeyView::k64Bit;
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 255);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_EQ(seen.boxes[0], Box(Text("title"), Text("welcome"), 0x44, "yes"));
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("noquor"), 0x10, "ok"));
    EXPECT_EQ(seen.gameVersion, std::nullopt);
    EXPECT_EQ(seen.gameVersion64, 0x10001u);
    EXPECT_TRUE(seen.links.empty());
}

TEST_F(PatcherUnderWine, KeysInBothViewsThe32BitOneIsUsedAndWritten) {
    Scenario scenario;
    scenario.answers = {"yes", "ok"};
    scenario.keyView = KeyView::kBoth;
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 0);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_NE(seen.boxes[0].find("QUOR version installed: 1.01"), std::string::npos) << seen.boxes[0];
    EXPECT_NE(seen.boxes[0].find("C:\\\\Games\\\\Quor\\\\"), std::string::npos) << seen.boxes[0];
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("done"), 0, "ok"));
    EXPECT_EQ(seen.gameVersion, std::stoul(Text("ver"), nullptr, 16));
    EXPECT_EQ(seen.gameVersion64, 0x10006u);
}
