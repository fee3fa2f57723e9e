// Stand-in for <objbase.h>: the component object model.
#pragma once

#include "windows.h"
