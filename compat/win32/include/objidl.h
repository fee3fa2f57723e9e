// Stand-in for <objidl.h>: the shell and component object model.
#pragma once

#include "windows.h"
