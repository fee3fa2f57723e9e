// A piece of work run on a thread of its own while the caller does another,
// then waited for: how the checksum pass uses both processors.
#pragma once

// Starts work(argument) on a new thread: a token for WaitHelperThread, or
// null when no thread can be made (the caller then does the work itself).
void* StartHelperThread(void (*work)(void*), void* argument);
// Waits until the work has returned and lets the thread go.
void WaitHelperThread(void* started);
