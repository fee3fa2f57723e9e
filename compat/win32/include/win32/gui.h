// Message boxes and modal dialogs. On this host a message box is answered
// from a script or a terminal and recorded in a transcript, and a dialog has
// no window of its own: its procedure gets WM_INITDIALOG and the call waits
// until EndDialog (see compat/win32/src/messagebox.cpp and dialog.cpp).
#pragma once

#include "types.h"

// Message-box buttons (low nibble of the type).
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_CANCELTRYCONTINUE 0x00000006L
#define MB_TYPEMASK 0x0000000FL

// Icons.
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L

// Default button.
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFBUTTON4 0x00000300L
#define MB_DEFMASK 0x00000F00L

// Modality and other flags (recorded, otherwise without effect here).
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_SETFOREGROUND 0x00010000L
#define MB_TOPMOST 0x00040000L

// Button identifiers.
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDTRYAGAIN 10
#define IDCONTINUE 11

// Window messages a dialog procedure may receive.
#define WM_INITDIALOG 0x0110
// The first message number a window class may define for itself.
#define WM_USER 0x0400

// Show states.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOW 5
#define SW_SHOWMINNOACTIVE 7

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// A resource identifier in the place of a resource name.
inline LPSTR MAKEINTRESOURCEA(WORD id)
{
    return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(id));
}
inline bool IS_INTRESOURCE(LPCSTR name)
{
    return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam);
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
HWND WINAPI GetDlgItem(HWND dialog, int controlId);
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
BOOL WINAPI SetDlgItemTextA(HWND dialog, int controlId, LPCSTR text);
BOOL WINAPI IsWindow(HWND window);
// Queues a message for a window of a dialog and returns at once; nothing here
// draws, so the message only has to find its window (a control's state, such
// as a progress bar's position, is not kept).
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
