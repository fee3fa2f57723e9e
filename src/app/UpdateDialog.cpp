#include "app/AppState.h"
#include "app/DeltaTarget.h"
#include "app/Messages.h"
#include "app/Update.h"
#include "app/resource.h"

int RunUpdate() {
    DialogBoxParamA(g_Instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, UpdateDialogProc, 0);
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
            // No worker, no copy: the dialog must not wait for one, and the
            // run reports an incomplete update.
            g_UpdateFailed = 1;
            EndDialog(window, 0);
        }
    }
    return FALSE;
}

DWORD WINAPI UpdateWorker(LPVOID) {
    RemovePartialFiles("DATA\\Files");
    RemoveDeltaPartials(kDeltasRoot);
    CopyTree("DATA\\Files");
    PatchDeltaTree(kDeltasRoot);
    EndDialog(g_ProgressDialog, 1);
    return 0;
}
