// The clocks: milliseconds since start-up, and the local date and time.
#pragma once

#include "base.h"

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;  // 0 is Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

// Milliseconds of a monotonic clock; wraps after about 49.7 days.
DWORD WINAPI GetTickCount(void);
// The local time as the host's time zone gives it.
void WINAPI GetLocalTime(LPSYSTEMTIME time);
