// Threads over the host's threads.
#pragma once

#include "lasterror.h"

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

#define CREATE_SUSPENDED 0x00000004
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId);
DWORD WINAPI GetCurrentThreadId(void);

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000
#define WAIT_TIMEOUT 0x00000102
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)

// Waits until the thread of handle has returned, or the event of handle is
// signalled (WAIT_OBJECT_0), or the milliseconds have passed (WAIT_TIMEOUT;
// INFINITE waits for good). Only threads and events can be waited on here:
// any other handle fails (WAIT_FAILED, ERROR_INVALID_HANDLE).
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Suspends the calling thread for at least the milliseconds given (0 yields).
void WINAPI Sleep(DWORD milliseconds);
