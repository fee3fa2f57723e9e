// Handle and helper types used by the GUI, registry, process and shell parts
// of the stand-in. Each is the real Win32 definition; repeating an identical
// typedef is allowed, so these coexist with the same names from base.h.
#pragma once

#include "base.h"

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef unsigned short USHORT;
typedef ULONG_PTR SIZE_T;
typedef LONG HRESULT;
typedef LONG LSTATUS;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

// Only pointers to these are used here; their full definitions live with the
// file functions.
struct _SECURITY_ATTRIBUTES;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct _WIN32_FIND_DATAA;

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

// The calling convention of COM interface methods.
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif
