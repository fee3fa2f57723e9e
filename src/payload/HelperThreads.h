// How the portable library runs work on another thread: the program (or a
// test) passes the pair that starts a thread and waits for it.
#pragma once

struct HelperThreads {
    // Starts work(argument) on another thread: a token for wait, or null
    // when it cannot (the caller then does the work itself).
    void* (*start)(void (*work)(void*), void* argument);
    void (*wait)(void* started);
};
