// The process: its command line, its module, its exit, and the entry point
// WinMain that the win32compat_winmain library calls from main.
#pragma once

#include "lasterror.h"

LPSTR WINAPI GetCommandLineA(void);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
[[noreturn]] void WINAPI ExitProcess(UINT exitCode);

// Replaces every %NAME% of source by the value of the environment variable
// NAME (names compare without regard to ASCII letter case); an unknown name
// stays as written. Returns the characters the result needs with its
// terminator, which is written only when that fits in size; 0 on failure.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);

// Defined by the program.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

// Code pages and the ANSI/wide conversions. The ANSI code page of this host
// layer is Windows-1252.
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR dest,
                               int destLength);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR dest,
                               int destLength, LPCSTR defaultChar, BOOL* usedDefaultChar);
