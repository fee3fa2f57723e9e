// The thread's last-error value and the error numbers (the real Win32 values)
// that the GUI, registry, process and shell parts report, beside those of the
// file part's error header.
#pragma once

#include "types.h"

#include "errors.h"

constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_KEY_DELETED = 1018;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
