#include "app/AppState.h"
#include "app/CopyBatch.h"
#include "app/MadeFolders.h"
#include "app/PartialFile.h"
#include "app/DeltaTarget.h"
#include "app/Messages.h"
#include "app/Payload.h"
#include "app/Update.h"
#include "app/resource.h"
#include "payload/PatchNames.h"

namespace {

// How the worker ends the dialog: the update ran, or the player aborted it.
constexpr INT_PTR kWorkerDone = 1;
constexpr INT_PTR kWorkerAborted = 2;

}  // namespace

int RunUpdate() {
    // Only the worker ends the dialog with kWorkerDone or kWorkerAborted.
    // Anything else (-1 or 0: the dialog never appeared; 0 also: no worker
    // could start) copied nothing.
    INT_PTR result = DialogBoxParamA(g_Instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, UpdateDialogProc, 0);
    // An Abort ends the process here, on the main thread, once the worker
    // has stopped its helpers and ended the dialog.
    if (result == kWorkerAborted) FatalMessage("errnotcomplete", nullptr);
    if (result != kWorkerDone) g_UpdateFailed = 1;
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
    // Temporary files that a run which died left, of this patch or another.
    RemovePartialFilesBelow(g_GameFolder);
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
    // After an Abort the temporary files not moved in go; the moves made
    // are flushed as usual.
    if (UpdateAborted()) DropBatch();
    // Without that last flush the new files are not known to be on disk,
    // and the version must not be recorded.
    if (!EndBatches()) g_UpdateFailed = 1;
    if (g_UpdateFailed || UpdateAborted()) RemoveEmptyMadeFolders();
    ForgetMadeFolders();
    EndDialog(g_ProgressDialog, UpdateAborted() ? kWorkerAborted : kWorkerDone);
    return 0;
}
