// One patch scenario run on both builds: the Linux patcher over the host
// layer (W32_* variables) and the Windows patcher under Wine. Both start from
// the same sample installation in a folder of their own and are observed the
// same way, so that a test can demand equal boxes, files, registry and
// shortcut from both.
//
// The scenario is one of the end-to-end table's (Scenarios.h): its game
// keys, game folder and answers; the other fields of the table (faults,
// local packs, a running game) have no meaning here and fail the run.
// Installation layout (host paths below the scenario folder):
//   c/Games/Quor/            the game folder, "C:\Games\Quor\" in the registry
//   c/Menu/Programs/         the Start-menu Programs folder of the Linux run
//   registry.reg             HKLM as a registry-export text (Installation.h)
// Under Wine, drive C:'s "Games" is a link to the scenario's c/Games, the
// registry text is imported with regedit and the Programs folder is Wine's own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LnkReader.h"
#include "Scenarios.h"
#include "WinePrefix.h"
#include "WineRun.h"

namespace winebox {

// A scenario of the table as this suite runs it; made as an installed 1.01
// game, its key in the registry's 32-bit view naming C:\Games\Quor\.
struct ScenarioRun : e2e::Scenario {
    ScenarioRun();

    std::string patch;  // host path of the patch (Linux or Windows build)
    // Linux run only: the command line the patcher is started with
    // (W32_COMMAND_LINE), so that it reads another patch file as its own.
    std::string commandLine;
    // Switches behind the program's path on both builds' command lines
    // (words without blanks: Wine quotes its arguments the Windows way).
    std::vector<std::string> switches;
    // Under Wine, non-empty: the boxes and the progress dialog are captured
    // to <shotPrefix>box<N>.png and <shotPrefix>dialog.png (see RunRequest).
    std::string shotPrefix;
};

struct Observation {
    std::string error;                 // harness trouble; empty when the run was observed
    int exitCode = -1;
    std::vector<std::string> boxes;    // one transcript line per box, host-layer JSON form
    std::string files;                 // the game folder: "path size checksum [R] [H] [S]" lines, sorted
    std::optional<uint32_t> gameVersion;    // of the game's key in the 32-bit view
    std::optional<uint32_t> gameVersion64;  // and in the 64-bit view
    std::vector<std::string> links;    // .lnk paths relative to Programs, sorted
    std::vector<LnkFile> linkFields;   // in the order of links
    // The log a run was told to write to C:\Games\patch.log, each line
    // without its time; empty when there is none.
    std::vector<std::string> log;
    // Under Wine: the progress dialog as the trace shows it, and the captures.
    DialogTrace dialog;
    std::vector<WindowShot> boxShots;
    WindowShot dialogShot;
};

Observation RunOnLinux(const ScenarioRun& scenario);
Observation RunOnWine(const WinePrefix& prefix, const ScenarioRun& scenario);

// A box as the host layer's transcript writes it:
// {"call":"MessageBoxA","caption":...,"text":...,"type":N,"answer":"yes"},
// written by the host layer's own transcript code: texts in the ANSI code
// page (Windows-1252), as the relay trace shows the bytes the program passed.
std::string TranscriptLine(const std::string& caption, const std::string& text, uint32_t type,
                           const std::string& answer);

// The values of section "str" of a strings file, '|' turned into line feeds
// as the patcher shows them.
std::string StringsValue(const std::string& stringsFile, const std::string& key);

}  // namespace winebox
