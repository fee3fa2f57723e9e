#include "win32/errors.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() { return t_lastError; }
void WINAPI SetLastError(DWORD errorCode) { t_lastError = errorCode; }
