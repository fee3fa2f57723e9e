// The one way platform and application code reaches the Win32 API: the real
// <windows.h> on Windows (its lean part: the rest, the component object model
// and the shell come from Win32Shell.h where a file needs them), compat/win32's
// stand-ins elsewhere. The macros that would rename the library's own members
// (GetClassName, RemoveDirectory) are dropped; code that means the Win32
// functions calls their A forms.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef GetClassName
#undef RemoveDirectory
