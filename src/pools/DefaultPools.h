// The two pools that exist for the whole run: constructed before the entry
// point (pointer pool first) and destroyed after it, in reverse order.
#pragma once

#include "pools/HandlePool.h"
#include "pools/PtrPool.h"

extern CPtrPool* const g_pDefaultPtrPool;        // a CHeapPtrPool
extern CHandlePool* const g_pDefaultHandlePool;  // a CHeapHandlePool, used by the handle table
