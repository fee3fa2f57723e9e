// Modal dialogs without a screen: DialogBoxParamA calls the dialog procedure
// with WM_INITDIALOG and then blocks until EndDialog is called for the dialog,
// from any thread. Dialog and control texts go to the transcript. Windows are
// never freed, so a late call with a stale handle fails cleanly.
#include "HostProcess.h"
#include "HostTranscript.h"
#include "HostWindows.h"
#include "env_faults.h"

#include <windows.h>
#include <commctrl.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Window {
    long long id = -1;
    Window* dialog = nullptr; // for a control, its dialog; null for a dialog
    bool alive = true;
    bool ended = false;
    INT_PTR result = 0;
    std::string text;
};

// Guards every Window field; the condition signals the end of a dialog.
// Both live until the process ends: a thread may end the process (exit)
// while the main thread still waits in DialogBoxParamA, and destroying a
// condition that has a waiter blocks for ever.
std::mutex& g_DialogMutex = *new std::mutex;
std::condition_variable& g_DialogEnded = *new std::condition_variable;
std::vector<Window*>* g_Windows = new std::vector<Window*>; // lives until the process ends

Window* LiveWindow(HWND handle)
{
    for (Window* window : *g_Windows)
        if (reinterpret_cast<HWND>(window) == handle)
            return window->alive ? window : nullptr;
    return nullptr;
}

Window* NewWindow(long long id, Window* dialog)
{
    Window* window = new Window;
    window->id = id;
    window->dialog = dialog;
    g_Windows->push_back(window);
    return window;
}

void CloseDialog(Window* dialog)
{
    dialog->alive = false;
    for (Window* window : *g_Windows)
        if (window->dialog == dialog)
            window->alive = false;
}

} // namespace

namespace w32host {

bool IsKnownWindow(HWND window)
{
    std::lock_guard<std::mutex> lock(g_DialogMutex);
    return LiveWindow(window) != nullptr;
}

long long WindowId(HWND handle)
{
    std::lock_guard<std::mutex> lock(g_DialogMutex);
    const Window* window = LiveWindow(handle);
    return window ? window->id : -1;
}

} // namespace w32host

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam)
{
    if (dialogProc == nullptr || templateName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // The dialog templates are the program's own resources.
    if (instance != w32host::ModuleHandle()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return -1;
    }
    if (owner != nullptr && !w32host::IsKnownWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    // A dialog that cannot be created (no memory, no desktop) never appears:
    // its procedure is not called.
    if (w32::TakeDialogFault()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    const bool byId = IS_INTRESOURCE(templateName);
    const long long id = byId ? static_cast<long long>(reinterpret_cast<ULONG_PTR>(templateName)) : -1;
    w32host::TranscriptLine record("DialogBoxParamA");
    record.Number("id", id);
    if (!byId)
        record.Text("name", templateName);
    record.Write();

    Window* dialog;
    {
        std::lock_guard<std::mutex> lock(g_DialogMutex);
        dialog = NewWindow(id, nullptr);
    }
    const HWND handle = reinterpret_cast<HWND>(dialog);
    dialogProc(handle, WM_INITDIALOG, 0, initParam);

    std::unique_lock<std::mutex> lock(g_DialogMutex);
    g_DialogEnded.wait(lock, [dialog] { return dialog->ended; });
    CloseDialog(dialog);
    return dialog->result;
}

BOOL WINAPI EndDialog(HWND handle, INT_PTR result)
{
    {
        std::lock_guard<std::mutex> lock(g_DialogMutex);
        Window* dialog = LiveWindow(handle);
        if (dialog == nullptr || dialog->dialog != nullptr || dialog->ended) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        // Recorded under the lock, before the waiting dialog call can see the
        // end, so the transcript keeps the order of events.
        w32host::TranscriptLine("EndDialog")
            .Number("id", dialog->id)
            .Number("result", static_cast<long long>(result))
            .Write();
        dialog->ended = true;
        dialog->result = result;
    }
    g_DialogEnded.notify_all();
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND handle, int controlId)
{
    std::lock_guard<std::mutex> lock(g_DialogMutex);
    Window* dialog = LiveWindow(handle);
    if (dialog == nullptr || dialog->dialog != nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (Window* window : *g_Windows)
        if (window->dialog == dialog && window->id == controlId)
            return reinterpret_cast<HWND>(window);
    return reinterpret_cast<HWND>(NewWindow(controlId, dialog));
}

BOOL WINAPI SetWindowTextA(HWND handle, LPCSTR text)
{
    long long id;
    {
        std::lock_guard<std::mutex> lock(g_DialogMutex);
        Window* window = LiveWindow(handle);
        if (window == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        window->text = text ? text : "";
        id = window->id;
    }
    w32host::TranscriptLine("SetWindowTextA").Number("id", id).Text("text", text).Write();
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int controlId, LPCSTR text)
{
    const HWND control = GetDlgItem(dialog, controlId);
    if (control == nullptr)
        return FALSE;
    {
        std::lock_guard<std::mutex> lock(g_DialogMutex);
        reinterpret_cast<Window*>(control)->text = text ? text : "";
    }
    w32host::TranscriptLine("SetDlgItemTextA").Number("id", controlId).Text("text", text).Write();
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window)
{
    return w32host::IsKnownWindow(window) ? TRUE : FALSE;
}

BOOL WINAPI PostMessageA(HWND window, UINT, WPARAM, LPARAM)
{
    if (!w32host::IsKnownWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls)
{
    if (controls == nullptr || controls->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
