// The one way platform and application code reaches the Win32 API: the real
// <windows.h> (with the COM and shell headers) on Windows, compat/win32's
// stand-ins elsewhere. The macros that would rename the library's own members
// (GetClassName, RemoveDirectory) are dropped; code that means the Win32
// functions calls their A forms.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The component object model and the shell (special folders, shell links).
#include <objbase.h>
#include <shlobj.h>

#undef GetClassName
#undef RemoveDirectory
