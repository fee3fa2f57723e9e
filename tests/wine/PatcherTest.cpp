// The patch program as a real Windows executable under Wine, next to the
// Linux build over the host layer: one sample patch built by qptool from the
// same folder with either patcher as its stub, the same scenario on both,
// and the demand that boxes, files, registry and shortcut agree. The texts
// come from the sample patch's own strings file.
#include "CodeImage.h"
#include "DeltaEncode.h"
#include "PatchScenario.h"
#include "TempDir.h"
#include "WineTest.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <memory>
#include <sstream>

using namespace winebox;

namespace {

struct BuiltPatches {
    std::string error;
    std::string windowsPatch, hostPatch, strings, dir;
    std::unique_ptr<TempDir> folder;  // removed, large patch and all, when the test program ends
};

// Builds both patches once for the whole test process.
const BuiltPatches& Patches(const std::string& tool, const std::string& windowsStub,
                            const std::string& linuxStub, const std::string& sample) {
    static BuiltPatches built;
    if (!built.dir.empty()) return built;
    built.folder = std::make_unique<TempDir>("patches");
    built.dir = built.folder->Path();
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
    PatcherUnderWine() : PatcherUnderWine(std::vector<std::string>{}) {}
    explicit PatcherUnderWine(std::vector<std::string> more) : WineTest(Inputs(std::move(more))) {}

    static std::vector<std::string> Inputs(std::vector<std::string> more) {
        more.insert(more.begin(), {"QP_TOOL", "QP_WINE_PATCHER", "QP_LINUX_PATCHER", "QP_SAMPLE_PATCH"});
        return more;
    }

    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        patches_ = &Patches(Input("QP_TOOL"), Input("QP_WINE_PATCHER"), Input("QP_LINUX_PATCHER"),
                            Input("QP_SAMPLE_PATCH"));
        ASSERT_TRUE(patches_->error.empty()) << patches_->error;
    }

    std::string Text(const std::string& key) const { return StringsValue(patches_->strings, key); }

    // Runs the scenario on both builds and checks that they agree; the Wine run.
    Observation RunBoth(ScenarioRun scenario, const std::string& windowsPatch = "", const std::string& linuxPatch = "") {
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
        EXPECT_EQ(onWine.log, onLinux.log);
        // Wine's shell writes no relative path; every other field must agree.
        for (size_t i = 0; i < onWine.linkFields.size() && i < onLinux.linkFields.size(); ++i) {
            const LnkFile &w = onWine.linkFields[i], &l = onLinux.linkFields[i];
            EXPECT_EQ(w.localBasePath, l.localBasePath);
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
    ScenarioRun scenario;
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
    EXPECT_EQ(seen.linkFields[0].localBasePath, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(seen.linkFields[0].description, Text("zln_name"));
}

TEST_F(PatcherUnderWine, DeclinedWelcomeChangesNothing) {
    ScenarioRun scenario;
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
    ScenarioRun scenario;
    scenario.answers = {"ok"};
    Observation seen = RunBoth(scenario, Input("QP_WINE_PATCHER"), Input("QP_LINUX_PATCHER"));
    EXPECT_EQ(seen.exitCode, 255);
    EXPECT_EQ(seen.boxes, std::vector<std::string>{Box("QUOR Patch", "Patch file is broken!", 0, "ok")});
    EXPECT_EQ(seen.gameVersion, 0x10001u);
}

TEST_F(PatcherUnderWine, NewerGameNeedsNoUpdate) {
    ScenarioRun scenario;
    scenario.answers = {"yes", "ok"};
    scenario.gameVersion = 0x10006;
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 255);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("noneed"), 0x10, "ok"));
    EXPECT_EQ(seen.gameVersion, 0x10006u);
    EXPECT_TRUE(seen.links.empty());
}

TEST_F(PatcherUnderWine, IgnoredCopyFailureLeavesTheUpdateIncomplete) {
    // A folder where the readme should go: it cannot be opened as a file on either system.
    ScenarioRun scenario;
    scenario.answers = {"yes", "ignore", "ok"};
    scenario.gameFolders = {"README-1.05.TXT"};
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
    ScenarioRun scenario;
    scenario.answers = {"yes", "ok"};
    scenario.gameFiles = {{"Readme-1.05.txt", "old readme", false, 0x2},
                          {"maps\\kingsfall.map", "old map", false, 0x4},
                          {"zln\\zavovudiz.exe", "old client", true},
                          {"maps\\kingsfall.map.~qp", "what a killed run left"}};
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
    ScenarioRun scenario;
    scenario.answers = {"yes", "ignore", "ok"};
    scenario.gameFolders = {"maps\\KINGSFALL.MAP.~qp"};
    scenario.gameFiles = {{"maps\\kingsfall.map", "old map", true, 0x4}};
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
    TempDir folder("zln");
    const std::string dir = folder.Path();
    std::string strings = ReadText(patches_->strings);
    size_t at = strings.find("zln_name = ");
    ASSERT_NE(at, std::string::npos);
    strings.replace(at, strings.find('\n', at) - at, "zln_name = ..\\..\\EvilLink\r");
    WriteText(dir + "/Patch.ini", strings);
    std::string windowsPatch = dir + "/evil.exe", linuxPatch = dir + "/evil";
    for (const auto& [stub, out] : {std::make_pair(Input("QP_WINE_PATCHER"), windowsPatch),
                                    std::make_pair(Input("QP_LINUX_PATCHER"), linuxPatch)}) {
        CommandResult r = RunCommand({Input("QP_TOOL"), "build", "--stub", stub, "--strings", dir + "/Patch.ini",
                                      "--files", Input("QP_SAMPLE_PATCH") + "/Files", "--out", out, "--allow-errors"},
                                     {}, 120);
        ASSERT_TRUE(r.finished && r.exitCode == 0) << r.output;
    }
    chmod(linuxPatch.c_str(), 0755);
    ScenarioRun scenario;
    scenario.answers = {"yes", "ok"};
    Observation seen = RunBoth(scenario, windowsPatch, linuxPatch);
    EXPECT_EQ(seen.exitCode, 0);
    EXPECT_TRUE(seen.links.empty());
    EXPECT_FALSE(AnyFileNamed(Prefix().DriveC(), "EvilLink.lnk"));
}

TEST_F(PatcherUnderWine, KeyOnlyIn64BitViewIsNoGame) {
    ScenarioRun scenario;
    scenario.answers = {"yes", "ok"};
    scenario.registryKey = e2e::KeyPlace::k64BitView;
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
    ScenarioRun scenario;
    scenario.answers = {"yes", "ok"};
    scenario.registryKey = e2e::KeyPlace::kBothViews;
    scenario.registryPath64 = "C:\\Games\\Quor64\\";
    scenario.gameVersion64 = 0x10006;
    Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 0);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_NE(seen.boxes[0].find("QUOR version installed: 1.01"), std::string::npos) << seen.boxes[0];
    EXPECT_NE(seen.boxes[0].find("C:\\\\Games\\\\Quor\\\\"), std::string::npos) << seen.boxes[0];
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("done"), 0, "ok"));
    EXPECT_EQ(seen.gameVersion, std::stoul(Text("ver"), nullptr, 16));
    EXPECT_EQ(seen.gameVersion64, 0x10006u);
}

namespace {

// Width and height of a PNG file from its header; false for anything else.
bool PngSize(const std::string& path, int* width, int* height) {
    std::string bytes = ReadText(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return false;
    auto word = [&](size_t at) {
        return int(uint8_t(bytes[at])) << 24 | int(uint8_t(bytes[at + 1])) << 16 | int(uint8_t(bytes[at + 2])) << 8 |
               int(uint8_t(bytes[at + 3]));
    };
    *width = word(16);
    *height = word(20);
    return true;
}

// Letters and digits only, lower case: what a reader of the screen compares.
std::string Letters(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c))) out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The text a reader sees in a captured window: the picture enlarged three
// times (the dialog font is small), read by tesseract.
std::string ReadScreenText(const std::string& png) {
    TempDir folder("ocr");
    const std::string dir = folder.Path();
    CommandResult enlarge = RunCommand({"convert", png, "-filter", "point", "-resize", "300%", dir + "/x3.png"}, {}, 60);
    CommandResult read = RunCommand({"tesseract", dir + "/x3.png", dir + "/text"}, {}, 60);
    std::string text = ReadText(dir + "/text.txt");
    EXPECT_TRUE(enlarge.finished && enlarge.exitCode == 0 && read.finished && read.exitCode == 0)
        << enlarge.output << read.output;
    return text;
}

// What the dialog manager of the prefix makes of 172 by 44 dialog units in
// 8-point "MS Sans Serif", as the probe measures it.
struct DialogUnits {
    std::string face;
    int baseX = 0, baseY = 0, clientWidth = 0, clientHeight = 0, windowWidth = 0, windowHeight = 0;
};

}  // namespace

// The screen as the player sees it in a complete update: the welcome box, the
// progress dialog and the final box, captured under Xvfb and kept in
// QP_WINE_SHOTS. A large file in the patch keeps the dialog up long enough to
// be seen; the dialog must have the size of its template and show the "copy"
// text.
class PatcherOnScreen : public PatcherUnderWine {
protected:
    PatcherOnScreen() : PatcherUnderWine({"QP_WINE_SHOTS", "QP_WINE_DIALOG_UNITS"}) {}

    DialogUnits MeasureDialogUnits() {
        std::string dir = Prefix().DriveC() + "/dialog-units";
        mkdir(dir.c_str(), 0755);
        WriteText(dir + "/dialog-units.exe", ReadText(Input("QP_WINE_DIALOG_UNITS")));
        CommandResult run = Prefix().Wine({dir + "/dialog-units.exe"}, 60);
        EXPECT_TRUE(run.finished && run.exitCode == 0) << run.output;
        std::istringstream line(ReadText(dir + "/dialog-units.txt"));
        DialogUnits units;
        std::getline(line, units.face, '\t');
        line >> units.baseX >> units.baseY >> units.clientWidth >> units.clientHeight >> units.windowWidth >>
            units.windowHeight;
        TempDir::RemoveAll(dir);
        return units;
    }

    // The sample patch with one large file more, built on the Windows stub:
    // text that the container compresses to a quarter, so that decoding it
    // keeps the progress dialog up for a second or two.
    std::string BuildLargePatch() {
        std::string dir = patches_->dir + "/large";
        mkdir(dir.c_str(), 0755);
        CommandResult copy = RunCommand({"cp", "-r", Input("QP_SAMPLE_PATCH") + "/Files", dir + "/Files"}, {}, 60);
        EXPECT_TRUE(copy.finished && copy.exitCode == 0) << copy.output;
        std::string data;
        data.reserve(kLargeFileBytes + 128);
        char line[128];
        for (unsigned i = 0; data.size() < kLargeFileBytes; ++i) {
            std::snprintf(line, sizeof line, "%08u The walls of Kingsfall stand again at %u,%u.\r\n", i,
                          i * 7 % 1000, i * 13 % 1000);
            data += line;
        }
        data.resize(kLargeFileBytes);
        EXPECT_NO_THROW(WriteText(dir + "/Files/maps/kingsfall-hd.map", data));
        std::string patch = dir + "/QuorPatch105.exe";
        CommandResult build = RunCommand({Input("QP_TOOL"), "build", "--stub", Input("QP_WINE_PATCHER"), "--strings",
                                          patches_->strings, "--files", dir + "/Files", "--out", patch},
                                         {}, 300);
        EXPECT_TRUE(build.finished && build.exitCode == 0) << build.output;
        return patch;
    }

    static constexpr size_t kLargeFileBytes = size_t(640) << 20;
};

TEST_F(PatcherOnScreen, CompleteUpdateShowsTheBoxesAndTheProgressDialog) {
    DialogUnits units = MeasureDialogUnits();
    ASSERT_EQ(units.face, "MS Sans Serif") << "the prefix has no such font: the dialog would fall back to another";
    ASSERT_GT(units.baseX, 0);
    std::string patch = BuildLargePatch();
    ASSERT_FALSE(HasFailure());

    // The Linux build is held to the same run by CompleteUpdate.
    const std::string shots = Input("QP_WINE_SHOTS") + "/complete-update-";
    ScenarioRun scenario;
    scenario.patch = patch;
    scenario.answers = {"yes", "ok"};
    scenario.shotPrefix = shots;
    Observation seen = RunOnWine(Prefix(), scenario);
    ASSERT_EQ(seen.error, "");
    EXPECT_EQ(seen.exitCode, 0);
    ASSERT_EQ(seen.boxes.size(), 2u);
    EXPECT_NE(seen.boxes[0].find("QUOR version installed: 1.01"), std::string::npos) << seen.boxes[0];
    EXPECT_EQ(seen.boxes[1], Box(Text("title"), Text("done"), 0, "ok"));
    EXPECT_EQ(seen.gameVersion, std::stoul(Text("ver"), nullptr, 16));
    EXPECT_NE(seen.files.find("/MAPS/KINGSFALL-HD.MAP " + std::to_string(kLargeFileBytes) + " "), std::string::npos)
        << seen.files;

    // Each capture is a picture of its window, named for what it shows.
    ASSERT_EQ(seen.boxShots.size(), 2u);
    ASSERT_FALSE(seen.dialogShot.path.empty()) << "the progress dialog was not captured";
    const std::pair<const WindowShot*, const char*> named[] = {
        {&seen.boxShots[0], "welcome"}, {&seen.dialogShot, "progress"}, {&seen.boxShots[1], "done"}};
    for (const auto& [shot, name] : named) {
        int width = 0, height = 0;
        EXPECT_TRUE(PngSize(shot->path, &width, &height)) << shot->path;
        EXPECT_EQ(width, shot->width) << name;
        EXPECT_EQ(height, shot->height) << name;
        std::rename(shot->path.c_str(), (shots + name + ".png").c_str());
    }

    // The dialog: the strings file's caption and text, and the size of 172 by
    // 44 dialog units with a modal frame and a caption, to the pixel or two.
    EXPECT_TRUE(seen.dialog.shown && seen.dialog.ended);
    EXPECT_EQ(seen.dialog.caption, Text("title"));
    EXPECT_EQ(seen.dialog.items[1000], Text("copy"));
    std::printf("dialog base units %dx%d: client %dx%d, window %dx%d; captured %dx%d\n", units.baseX, units.baseY,
                units.clientWidth, units.clientHeight, units.windowWidth, units.windowHeight, seen.dialogShot.width,
                seen.dialogShot.height);
    EXPECT_NEAR(seen.dialogShot.width, units.windowWidth, 2);
    EXPECT_NEAR(seen.dialogShot.height, units.windowHeight, 2);

    // And the picture shows the "copy" text, which the welcome box does not.
    const std::string copy = Letters(Text("copy"));
    std::string onScreen = ReadScreenText(shots + "progress.png");
    EXPECT_NE(Letters(onScreen).find(copy), std::string::npos) << "read on the screen: " << onScreen;
    EXPECT_EQ(Letters(ReadScreenText(shots + "welcome.png")).find(copy), std::string::npos);
}

// A publisher signs the built patch (a throwaway self-signed certificate,
// made here): the signature verifies, the signed patch applies exactly as
// the unsigned one under Wine; a byte changed after signing is refused. (The
// Linux patcher reads only its own file, which no Windows signing tool
// signs: these runs are Wine's alone.)
TEST_F(PatcherUnderWine, SignedPatchAppliesAndDamagedSignedPatchIsRefused) {
    const std::string dir = patches_->dir, key = dir + "/key.pem", cert = dir + "/cert.pem";
    const std::string signedPatch = dir + "/QuorPatch105-signed.exe";
    CommandResult made = RunCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-keyout", key, "-out", cert,
                                     "-days", "2", "-nodes", "-subj", "/CN=QUOR Test Publisher"},
                                    {}, 120);
    ASSERT_TRUE(made.finished && made.exitCode == 0) << made.output;
    CommandResult sign = RunCommand({"osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "QUOR Patch", "-in",
                                     patches_->windowsPatch, "-out", signedPatch},
                                    {}, 120);
    ASSERT_TRUE(sign.finished && sign.exitCode == 0) << sign.output;
    CommandResult check = RunCommand({"osslsigncode", "verify", "-CAfile", cert, "-in", signedPatch}, {}, 120);
    EXPECT_TRUE(check.finished && check.exitCode == 0) << check.output;
    const std::string unsignedBytes = ReadText(patches_->windowsPatch), signedBytes = ReadText(signedPatch);
    ASSERT_GT(signedBytes.size(), unsignedBytes.size());
    EXPECT_EQ(unsignedBytes.size() % 8, 0u) << "the signature's table would be padded into the payload";
    EXPECT_EQ(signedBytes.substr(4096, unsignedBytes.size() - 4096), unsignedBytes.substr(4096));

    CommandResult verify = RunCommand({Input("QP_TOOL"), "verify", signedPatch}, {}, 120);
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    EXPECT_NE(verify.output.find("signed: a certificate table of"), std::string::npos) << verify.output;
    EXPECT_NE(verify.output.find("checksum: PATCH.CRC covers"), std::string::npos) << verify.output;

    ScenarioRun scenario;
    scenario.answers = {"yes", "ok"};
    const Observation plain = RunBoth(scenario);
    scenario.patch = signedPatch;
    const Observation signedRun = RunOnWine(Prefix(), scenario);
    EXPECT_TRUE(signedRun.error.empty()) << signedRun.error;
    EXPECT_EQ(signedRun.exitCode, 0);
    EXPECT_EQ(signedRun.boxes, plain.boxes);
    EXPECT_EQ(signedRun.files, plain.files);
    EXPECT_EQ(signedRun.gameVersion, plain.gameVersion);
    EXPECT_EQ(signedRun.links, plain.links);

    // One byte of the payload changed after signing.
    std::string damaged = signedBytes;
    const size_t at = unsignedBytes.size() - 20000;
    damaged[at] = char(damaged[at] ^ 0x10);
    const std::string damagedPatch = dir + "/QuorPatch105-signed-damaged.exe";
    ASSERT_NO_THROW(WriteText(damagedPatch, damaged));
    scenario.answers = {"ok"};
    scenario.patch = damagedPatch;
    const Observation refused = RunOnWine(Prefix(), scenario);
    EXPECT_TRUE(refused.error.empty()) << refused.error;
    EXPECT_EQ(refused.exitCode, 255);
    EXPECT_EQ(refused.boxes, std::vector<std::string>{Box("QUOR Patch", "Patch file is broken!", 0, "ok")});
    EXPECT_EQ(refused.gameVersion, 0x10001u);
    EXPECT_TRUE(refused.links.empty());
    EXPECT_EQ(refused.files.find("ZLN"), std::string::npos) << refused.files;
    EXPECT_EQ(RunCommand({Input("QP_TOOL"), "verify", damagedPatch}, {}, 120).exitCode, 1);
}

// Unattended: /VERYSILENT shows nothing, a complete run ends with 0 and one
// whose file cannot be put in place (a folder stands where it goes) is tried
// again, then aborted with 5; both builds write the same log.
TEST_F(PatcherUnderWine, VerySilentRunsShowNothingAndTellTheirOutcome) {
    ScenarioRun scenario;
    scenario.switches = {"/VERYSILENT", "/LOG=C:\\Games\\patch.log"};
    const Observation done = RunBoth(scenario);
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_TRUE(done.boxes.empty());
    EXPECT_EQ(done.gameVersion, std::stoul(Text("ver"), nullptr, 16));
    EXPECT_EQ(done.links.size(), 1u);
    ASSERT_FALSE(done.log.empty());
    EXPECT_EQ(done.log.back(), "outcome: updated (exit code 0)");

    scenario.gameFolders = {"readme-1.05.txt"};
    const Observation failed = RunBoth(scenario);
    EXPECT_EQ(failed.exitCode, 5);
    EXPECT_TRUE(failed.boxes.empty());
    EXPECT_EQ(failed.gameVersion, 0x10001u);
    EXPECT_TRUE(failed.links.empty());
    ASSERT_FALSE(failed.log.empty());
    EXPECT_EQ(failed.log.back(), "outcome: errnotcomplete (exit code 5)");
    const std::string copyError = "box \"Error\": Error while trying to copy README-1.05.TXT -> ";
    EXPECT_EQ(std::count(failed.log.begin(), failed.log.end(), copyError + "retry"), 3) << failed.log.size();
    EXPECT_EQ(std::count(failed.log.begin(), failed.log.end(), copyError + "abort"), 1);
}

// A parent may put another patch's path behind the program's: the payload
// still comes from the program's own file, and the word is refused.
TEST_F(PatcherUnderWine, AnotherPatchNamedOnTheCommandLineIsRefused) {
    ScenarioRun scenario;
    scenario.switches = {"Z:" + patches_->hostPatch};
    scenario.answers = {"ok"};
    for (char& c : scenario.switches[0])
        if (c == '/') c = '\\';
    const Observation seen = RunBoth(scenario);
    EXPECT_EQ(seen.exitCode, 255);
    ASSERT_EQ(seen.boxes.size(), 1u);
    EXPECT_NE(seen.boxes[0].find("Unknown switch: Z:"), std::string::npos) << seen.boxes[0];
    EXPECT_EQ(seen.gameVersion, 0x10001u);
    EXPECT_EQ(seen.files.find("ZLN"), std::string::npos) << seen.files;
}

// A delta patch for a multi-megabyte program whose functions moved (its
// references rewritten throughout, as a relink leaves them): the encoder
// predicts the references, and the Windows patcher rebuilds the new program
// from the installed one as the Linux build does; an installed copy changed
// by one byte matches no delta and is left as it is.
TEST_F(PatcherUnderWine, DeltaOfAMovedProgramRebuildsAndAChangedOneIsRefused) {
    std::vector<uint32_t> gaps(9000), moved(9000);
    std::mt19937 rng(105);
    for (size_t f = 0; f < gaps.size(); ++f) {
        gaps[f] = 16 * (rng() % 4);
        moved[f] = rng() % 3 ? gaps[f] : 16 * (rng() % 9);
    }
    const testcode::Bytes oldProgram = testcode::CodeImage(false, gaps, 3), newProgram = testcode::CodeImage(false, moved, 3);
    ASSERT_GT(newProgram.size(), 3u << 20);
    const testcode::Bytes delta = EncodeDelta(oldProgram.data(), oldProgram.size(), newProgram.data(), newProgram.size());
    ASSERT_GT(delta.size(), 24u);
    EXPECT_TRUE(delta[20] & kDeltaReferences) << "the encoder left the references unpredicted";

    const std::string dir = patches_->dir, before = dir + "/engine-1.01", after = dir + "/engine-1.02";
    const std::string path = "bin/engine.dll";
    std::filesystem::copy(Input("QP_SAMPLE_PATCH") + "/Files", after, std::filesystem::copy_options::recursive);
    ASSERT_NO_THROW(WriteText(before + "/" + path, std::string(oldProgram.begin(), oldProgram.end())));
    ASSERT_NO_THROW(WriteText(after + "/" + path, std::string(newProgram.begin(), newProgram.end())));
    // To 1.02, so that 1.01, the one base, is the only version it accepts.
    std::string strings = ReadText(patches_->strings);
    const size_t ver = strings.find("ver = 10005");
    ASSERT_NE(ver, std::string::npos);
    strings.replace(ver, 11, "ver = 10002");
    ASSERT_NO_THROW(WriteText(dir + "/Patch102.ini", strings));
    const std::string windowsPatch = dir + "/QuorPatch102-delta.exe", linuxPatch = dir + "/quorpatch102-delta";
    for (const auto& [stub, out] : {std::pair{Input("QP_WINE_PATCHER"), windowsPatch},
                                    std::pair{Input("QP_LINUX_PATCHER"), linuxPatch}}) {
        CommandResult built = RunCommand({Input("QP_TOOL"), "build", "--stub", stub, "--strings", dir + "/Patch102.ini",
                                          "--base", "1.01=" + before, "--from", after, "--out", out},
                                         {}, 300);
        ASSERT_TRUE(built.finished && built.exitCode == 0) << built.output;
    }
    chmod(linuxPatch.c_str(), 0755);
    EXPECT_LT(ReadText(windowsPatch).size(), ReadText(patches_->windowsPatch).size() + newProgram.size() / 8);

    auto sized = [](const std::string& files, size_t size) {
        std::string lower = files;
        for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        return lower.find("/bin/engine.dll " + std::to_string(size) + " ") != std::string::npos;
    };
    ScenarioRun scenario;
    scenario.gameFiles = {{"bin\\engine.dll", std::string(oldProgram.begin(), oldProgram.end())}};
    scenario.answers = {"yes", "ok"};
    const Observation rebuilt = RunBoth(scenario, windowsPatch, linuxPatch);
    EXPECT_EQ(rebuilt.exitCode, 0);
    EXPECT_TRUE(sized(rebuilt.files, newProgram.size())) << rebuilt.files;

    // Changed by one byte: the check before the first change finds no delta
    // for it, and Cancel leaves it as it is.
    scenario.gameFiles[0].content[oldProgram.size() / 2] ^= 0x20;
    scenario.answers = {"yes", "cancel"};
    const Observation refused = RunBoth(scenario, windowsPatch, linuxPatch);
    EXPECT_EQ(refused.exitCode, 255);
    ASSERT_EQ(refused.boxes.size(), 2u);
    EXPECT_EQ(refused.boxes[1], Box(Text("title"),
                                    "BIN\\ENGINE.DLL is not a file this patch can update: it was changed or damaged. "
                                    "Restore it and choose Retry.",
                                    0x35, "cancel"));
    EXPECT_TRUE(sized(refused.files, oldProgram.size())) << refused.files;
}
