// Named mutexes, visible across processes (see compat/win32/src/mutex.cpp),
// and unnamed events within the process (compat/win32/src/event.cpp).
#pragma once

#include "lasterror.h"

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);

// An unnamed event (a name fails with ERROR_INVALID_PARAMETER): manual-reset
// stays signalled until ResetEvent; auto-reset lets one wait through and is
// reset by it. WaitForSingleObject waits on it; CloseHandle closes it.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
