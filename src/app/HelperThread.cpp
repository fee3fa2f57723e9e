#include "app/HelperThread.h"

#include <atomic>

#include "platform/Win32.h"

namespace {

// A thread kept after its job and woken for the next: a thread started per
// job cost a clone and a new stack's page faults for every 512 KB of pack
// decoded ahead and for every batch flushed.
struct ParkedHelper {
    HANDLE thread = nullptr;
    HANDLE wake = nullptr;  // auto-reset: a job waits for the thread
    HANDLE done = nullptr;  // auto-reset: the job has returned
    void (*work)(void*) = nullptr;
    void* argument = nullptr;
    std::atomic<bool> taken{false};  // handed a job not yet waited for
};

ParkedHelper g_Parked[kParkedHelperThreads];

DWORD WINAPI RunParked(LPVOID parameter) {
    auto* helper = static_cast<ParkedHelper*>(parameter);
    // The events are never closed, so the wait fails only with the process.
    while (WaitForSingleObject(helper->wake, INFINITE) == WAIT_OBJECT_0) {
        helper->work(helper->argument);
        SetEvent(helper->done);
    }
    return 0;
}

// The helper's thread and events, made when it has none yet; false when they
// cannot be made now (tried again for a later job).
bool MadeReady(ParkedHelper* helper) {
    if (helper->thread) return true;
    if (!helper->wake) helper->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!helper->done) helper->done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!helper->wake || !helper->done) return false;
    helper->thread = CreateThread(nullptr, 0, RunParked, helper, 0, nullptr);
    return helper->thread != nullptr;
}

}  // namespace

void* StartHelperThread(void (*work)(void*), void* argument) {
    for (ParkedHelper& helper : g_Parked) {
        bool idle = false;
        if (!helper.taken.compare_exchange_strong(idle, true)) continue;
        if (!MadeReady(&helper)) {
            helper.taken = false;
            return nullptr;
        }
        helper.work = work;
        helper.argument = argument;
        SetEvent(helper.wake);
        return &helper;
    }
    return nullptr;
}

void WaitHelperThread(void* started) {
    auto* helper = static_cast<ParkedHelper*>(started);
    WaitForSingleObject(helper->done, INFINITE);
    helper->taken = false;
}
