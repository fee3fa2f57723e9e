// The one way platform and application code reaches the Win32 API: the real
// <windows.h> on Windows, compat/win32's stand-in elsewhere. The macros that
// would rename the library's own members (GetClassName, RemoveDirectory) are
// dropped; code that means the Win32 functions calls their A forms.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef GetClassName
#undef RemoveDirectory
