// Named mutexes, visible across processes (see compat/win32/src/mutex.cpp).
#pragma once

#include "lasterror.h"

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
