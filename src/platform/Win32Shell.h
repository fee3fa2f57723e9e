// The component object model and the shell (special folders, shell links),
// kept out of Win32.h: on Windows these headers cost more to compile than
// all the rest, and one file uses them.
#pragma once

#include "platform/Win32.h"

#include <objbase.h>
#include <shlobj.h>
