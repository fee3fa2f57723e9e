// A piece of work run on a thread of its own while the caller does another,
// then waited for: how the checksum pass uses both processors, and how the
// copy worker has the pack decoded ahead and its batches flushed, and the
// sweep after the commit deletes the kept old files on several threads.
#pragma once

// The threads that can work at once besides the caller: the copy worker's
// overlap at most a span decoded ahead and a batch flush (one more to spare);
// the sweep after the commit takes them all. Each is made when first needed.
constexpr int kParkedHelperThreads = 7;

// Starts work(argument) on a helper thread: a token for WaitHelperThread, or
// null when no thread can be had (the caller then does the work itself). The
// threads are kept, parked, between jobs: one is made only when none is idle.
void* StartHelperThread(void (*work)(void*), void* argument);
// Waits until the work has returned; the thread is then free for the next.
void WaitHelperThread(void* started);
