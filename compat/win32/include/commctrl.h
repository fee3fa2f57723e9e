// The common controls the program's dialog uses: the progress bar. Its
// window class is registered by InitCommonControlsEx on Windows; here a
// dialog's controls are not drawn, so registering only checks the request.
#pragma once

#include <windows.h>

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

#define ICC_PROGRESS_CLASS 0x00000020
#define PROGRESS_CLASSA "msctls_progress32"

// Progress bar messages: the position within the range (0 to 100 unless set).
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)

// FALSE (ERROR_INVALID_PARAMETER) for a structure of the wrong size.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);
