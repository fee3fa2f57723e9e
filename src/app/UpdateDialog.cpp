#include "app/AppState.h"
#include "app/CopyBatch.h"
#include "app/MadeFolders.h"
#include "app/PartialFile.h"
#include "app/Removals.h"
#include "app/Transaction.h"
#include "app/DeltaTarget.h"
#include "app/Messages.h"
#include "app/Payload.h"
#include "app/Progress.h"
#include "app/RunOptions.h"
#include "app/Update.h"
#include "app/resource.h"
#include "payload/PatchNames.h"

#include <commctrl.h>

namespace {

// How the worker ends the dialog: the update ran, or the player aborted it.
constexpr INT_PTR kWorkerDone = 1;
constexpr INT_PTR kWorkerAborted = 2;

// A very silent run shows nothing: the worker runs as behind the dialog and
// is waited for here. A worker that cannot start copied nothing.
void RunWorkerUnseen() {
    HANDLE worker = CreateThread(nullptr, 0, UpdateWorker, nullptr, 0, nullptr);
    if (!worker || WaitForSingleObject(worker, INFINITE) != WAIT_OBJECT_0) g_UpdateFailed = 1;
    if (worker) CloseHandle(worker);
}

}  // namespace

int RunUpdate() {
    if (g_RunOptions.mode == RunMode::kVerySilent) {
        RunWorkerUnseen();
    } else {
        // The dialog's progress bar is a common control: its class must be
        // registered before the dialog is made.
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        // Only the worker ends the dialog with kWorkerDone or kWorkerAborted.
        // Anything else (-1 or 0: the dialog never appeared; 0 also: no
        // worker could start) copied nothing.
        const INT_PTR result = DialogBoxParamA(g_Instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, UpdateDialogProc, 0);
        if (result != kWorkerDone && result != kWorkerAborted) g_UpdateFailed = 1;
    }
    // An Abort ends the process here, on the main thread, once the worker
    // has undone the run, stopped its helpers and ended the dialog.
    if (UpdateAborted()) FatalMessage("errnotcomplete", nullptr);
    return 1;
}

INT_PTR CALLBACK UpdateDialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextA(window, LookupText("title"));
        SetDlgItemTextA(window, IDC_PROGRESS_TEXT, LookupText("copy"));
        g_ProgressDialog = window;
        HANDLE worker = CreateThread(nullptr, 0, UpdateWorker, nullptr, 0, nullptr);
        if (worker) {
            CloseHandle(worker);  // the thread runs on; its handle is not needed
        } else {
            // No worker, no copy: the dialog must not wait for one. Ended
            // with 0, it makes RunUpdate report an incomplete update.
            EndDialog(window, 0);
        }
    }
    return FALSE;
}

DWORD WINAPI UpdateWorker(LPVOID) {
    // Nothing changes without the journal that can undo it: every folder,
    // target and so temporary file of the run is named on disk before the
    // first is made, so that a cut never leaves one that nothing names.
    const bool begun = BeginTransaction();
    if (!begun || !JournalCopyTargets(kPatchFilesPath) || !JournalDeltaTargets(kDeltasRoot) || !SecureJournal()) {
        if (begun) RollBack();
        g_UpdateFailed = 1;
        if (g_ProgressDialog) EndDialog(g_ProgressDialog, kWorkerDone);
        return 0;
    }
    PlanProgress();
    BeginBatches();
    BeginPayloadReadAhead();
    CopyTree(kPatchFilesPath);
    EndPayloadReadAhead();
    // The copies are moved in before any file is rebuilt: a file the patch
    // carries whole and as deltas is then rebuilt from nothing but its new
    // bytes (it has them already), and no two temporary files of one target
    // are ever queued. Rebuilt files join the batches as copies do.
    CommitBatch();
    if (!UpdateAborted()) PatchDeltaTree(kDeltasRoot);
    CommitBatch();
    if (!UpdateAborted()) RemoveListedFiles();
    // After an Abort the temporary files not moved in go; the moves made
    // are flushed as usual, then undone.
    if (UpdateAborted()) DropBatch();
    // Without that last flush the new files are not known to be on disk: the
    // run is undone. A run with skipped files keeps what is in place.
    const bool flushed = EndBatches();
    if (UpdateAborted() || !flushed) {
        RollBack();
        g_UpdateFailed = 1;
    } else if (g_UpdateFailed) {
        FinishTransaction();
    }
    if (g_UpdateFailed) RemoveEmptyMadeFolders();
    ForgetMadeFolders();
    FinishProgress();
    if (g_ProgressDialog) EndDialog(g_ProgressDialog, UpdateAborted() ? kWorkerAborted : kWorkerDone);
    return 0;
}
