// Stand-in for <shlguid.h>: the shell and component object model.
#pragma once

#include "windows.h"
