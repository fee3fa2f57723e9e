// Stand-in for <windows.h> on hosts other than Windows: the subset of Win32
// the program uses, implemented over POSIX in compat/win32/src.
#pragma once

#include "win32/base.h"
#include "win32/errors.h"
#include "win32/files.h"
