// Stand-in for <ole2.h>: the shell and component object model.
#pragma once

#include "windows.h"
