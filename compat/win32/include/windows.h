// Stand-in for <windows.h> on hosts other than Windows: the subset of Win32
// the program uses, implemented over POSIX in compat/win32/src.
#pragma once

#include "win32/base.h"
#include "win32/errors.h"
#include "win32/files.h"

// Windows, registry, process, threads, mutexes, COM and the shell.
#include "win32/types.h"
#include "win32/lasterror.h"
#include "win32/gui.h"
#include "win32/registry.h"
#include "win32/process.h"
#include "win32/thread.h"
#include "win32/sync.h"
#include "win32/clock.h"
#include "win32/com.h"
#include "win32/shell.h"
