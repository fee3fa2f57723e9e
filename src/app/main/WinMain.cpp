// The patch program's entry point: one run of the patch, stage by stage.
// Exit code 0 after the update stage, -1 for every earlier stop; a run
// given a silent switch tells its outcome by its own codes (RunOptions.h).
#include "app/AppState.h"
#include "app/GameChecks.h"
#include "app/HashIni.h"
#include "app/Messages.h"
#include "app/Payload.h"
#include "app/RunLog.h"
#include "app/RunOptions.h"
#include "app/SafeFormat.h"
#include "app/Shortcuts.h"
#include "app/Transaction.h"
#include "app/Update.h"
#include "app/UpdateCheck.h"
#include "app/Welcome.h"
#include "file/MountTable.h"
#include "payload/PatchNames.h"
#include "platform/DiskFS.h"
#include "pools/PtrPool.h"

namespace {
// Held until the process ends, like the game holds it while it runs.
HANDLE s_gameMutex = nullptr;

// A word of the command line the program does not know: refused before
// anything is read, in a box (the strings file is not read yet, so the
// text is the program's own) or, in a silent run, in the log alone.
int RefuseCommandLine() {
    char text[kTextSize];
    const FormatArg args[] = {FormatArg::String(g_RunOptions.refused)};
    FormatText(text, kTextSize, "Unknown switch: %s\n\nThe patch takes /SILENT, /VERYSILENT and /LOG=\"<file>\".",
               args, 1);
    AskBox(nullptr, text, "QUOR Patch", MB_OK | MB_ICONERROR);
    return FinishRunLog("bad command line", SilentRun() ? kExitBadCommandLine : -1);
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_Instance = instance;
    const bool understood = ParseRunOptions(GetCommandLineA(), &g_RunOptions);
    if (g_RunOptions.logPath[0]) OpenRunLog(g_RunOptions.logPath);
    if (!understood) return RefuseCommandLine();
    // Without the mount table and the disk service nothing can be read, the
    // patch's texts included: only the fixed box is left to say so.
    if (FileLayerInit(8) || DiskFSInit()) PatchFileBroken();
    OpenPayload();

    // Lives until the process ends, like every text looked up from it. The
    // pack is mounted: the strings come from it or not at all.
    g_Strings = new CHashIni(20, 500, new CSizedPtrPool(), true);
    if (g_Strings->LoadPath(kPatchStringsPath)) PatchFileBroken();
    LogStep("patch file checked");
    // A run of ours that died before its commit is undone before anything
    // is asked, so that declining leaves the old version whole.
    RecoverInterruptedRun();
    if (!ShowWelcome()) return FinishRunLog("welcome declined", -1);

    // The game holds this mutex while it runs. A mutex that cannot even be
    // created (access denied: the game runs under another account) may well
    // be held: the game counts as running.
    s_gameMutex = CreateMutexA(nullptr, FALSE, "Quor_Kingsfall_Ver_01");
    if (!s_gameMutex || GetLastError() == ERROR_ALREADY_EXISTS) FatalMessage("quorrun", nullptr);

    if (!FindGameFolder()) FatalMessage("noquor", nullptr);
    LogStep("game folder", g_GameFolder);
    if (!CheckGame()) return FinishRunLog("game check failed", -1);
    LogStep("installed game checked");
    // Nothing was changed: in a silent run that is an update not made.
    if (!CheckBeforeUpdate())
        return FinishRunLog("check before the first change failed", SilentRun() ? kExitNotCompleted : -1);
    RunUpdate();

    // An update whose version cannot be recorded is incomplete too: the next
    // patch would take the game for the old version.
    const char* outcome = "updated";
    int exitCode = kExitUpdated;
    if (g_UpdateFailed || !CommitUpdate()) {
        ShowMessage("errnotcomplete", MB_OK, nullptr);
        outcome = "NOT completed";
        if (SilentRun()) exitCode = kExitNotCompleted;
    } else {
        LogStep("GameVersion recorded:", LookupText("ver"));
        CreateShortcuts();
        ShowMessage("done", MB_OK, nullptr);
    }

    DiskFSDone();
    FileLayerDone();
    return FinishRunLog(outcome, exitCode);
}
