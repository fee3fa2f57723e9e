// The scenarios of this suite are the end-to-end table's, laid out by the
// same installation code; what this suite cannot set up fails the run
// before anything starts. No Wine needed.
#include "Installation.h"
#include "PatchScenario.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace winebox;

TEST(ScenarioRun, WhatThisSuiteCannotSetUpFailsTheRun) {
    const std::pair<const char*, void (*)(ScenarioRun&)> cases[] = {
        {"host-layer faults", [](ScenarioRun& s) { s.faultWrite = "KINGSFALL.MAP:1:fail:1"; }},
        {"host-layer faults", [](ScenarioRun& s) { s.faultDialog = true; }},
        {"a local pack", [](ScenarioRun& s) { s.localPack.kind = e2e::PackKind::kBlockFile; }},
        {"a running game", [](ScenarioRun& s) { s.gameRunning = true; }},
        {"files outside the game folder", [](ScenarioRun& s) { s.programsFolders = {"Sub"}; }},
        {"a patch of its own", [](ScenarioRun& s) { s.patchFiles = e2e::DefaultPatchFiles(); }},
    };
    for (const auto& [reason, change] : cases) {
        ScenarioRun scenario;
        scenario.patch = "/nonexistent/patch";  // never started
        change(scenario);
        const Observation seen = RunOnLinux(scenario);
        EXPECT_NE(seen.error.find(reason), std::string::npos) << seen.error;
        EXPECT_TRUE(seen.boxes.empty());
        EXPECT_EQ(seen.files, "");
    }
}

TEST(ScenarioRun, InstallationKeepsFoldersAttributesAndBothKeys) {
    ScenarioRun scenario;
    scenario.registryKey = e2e::KeyPlace::kBothViews;
    scenario.registryPath64 = "C:\\Games\\Quor64\\";
    scenario.gameVersion64 = 0x10006;
    scenario.gameFolders = {"maps\\KINGSFALL.MAP.~qp"};
    scenario.gameFiles = {{"maps\\kingsfall.map", "old map", true, 0x4}, {"Readme.txt", "old", false, 0x26}};
    const std::string registry = e2e::RegistryText(scenario);
    EXPECT_NE(registry.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel\\Quor]\r\n"
                            "\"Path\"=\"C:\\\\Games\\\\Quor\\\\\"\r\n\"GameVersion\"=dword:00010001\r\n"),
              std::string::npos)
        << registry;
    EXPECT_NE(registry.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel\\Quor]\r\n"
                            "\"Path\"=\"C:\\\\Games\\\\Quor64\\\\\"\r\n\"GameVersion\"=dword:00010006\r\n"),
              std::string::npos)
        << registry;

    TempDir dir("install");
    ASSERT_EQ(e2e::WriteGameFolder(scenario, dir.Path()), "");
    struct stat st;
    ASSERT_EQ(stat(dir.Path("maps/KINGSFALL.MAP.~qp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(stat(dir.Path("maps/kingsfall.map").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only";
    EXPECT_EQ(ReadText(dir.Path("maps/kingsfall.map")), "old map");
    // The attributes as hexadecimal text, as Wine reads them back.
    for (const auto& [path, text] : {std::make_pair("maps/kingsfall.map", "0x4"), std::make_pair("Readme.txt", "0x26")}) {
        char value[16] = {};
        ASSERT_GT(getxattr(dir.Path(path).c_str(), "user.DOSATTRIB", value, sizeof value - 1), 0) << path;
        EXPECT_STREQ(value, text) << path;
    }
    EXPECT_EQ(ReadText(dir.Path("Quor.exe")), "QUOR game program\n");
}
