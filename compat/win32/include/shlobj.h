// Stand-in for <shlobj.h>: the shell and component object model.
#pragma once

#include "windows.h"
