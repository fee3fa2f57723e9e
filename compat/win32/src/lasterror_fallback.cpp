// The thread's last-error value, for builds in which the file part of this
// layer does not provide it. Weak definitions: the file part's own
// GetLastError/SetLastError take precedence wherever they are linked.
#include <windows.h>

namespace {
thread_local DWORD t_LastError = 0;
}

__attribute__((weak)) DWORD WINAPI GetLastError(void)
{
    return t_LastError;
}

__attribute__((weak)) void WINAPI SetLastError(DWORD error)
{
    t_LastError = error;
}
