// Stand-in for <shobjidl.h>: the shell and component object model.
#pragma once

#include "windows.h"
