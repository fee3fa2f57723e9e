#include "pools/DefaultPools.h"

// Constructed ahead of ordinary static objects so that no static initialiser
// elsewhere can reach a pool before it exists; destroyed after them, the
// handle pool before the pointer pool. (Both supported compilers, g++ and
// clang++, honour init_priority, also for MinGW targets.)
static CHeapPtrPool s_defaultPtrPool __attribute__((init_priority(101)));
static CHeapHandlePool s_defaultHandlePool __attribute__((init_priority(102)));

CPtrPool* const g_pDefaultPtrPool = &s_defaultPtrPool;
CHandlePool* const g_pDefaultHandlePool = &s_defaultHandlePool;
