#include "app/HelperThread.h"

#include <new>

#include "platform/Win32.h"

namespace {

struct HelperJob {
    void (*work)(void*);
    void* argument;
    HANDLE thread;
};

DWORD WINAPI RunHelperJob(LPVOID parameter) {
    auto* job = static_cast<HelperJob*>(parameter);
    job->work(job->argument);
    return 0;
}

}  // namespace

void* StartHelperThread(void (*work)(void*), void* argument) {
    auto* job = new (std::nothrow) HelperJob{work, argument, nullptr};
    if (!job) return nullptr;
    job->thread = CreateThread(nullptr, 0, RunHelperJob, job, 0, nullptr);
    if (!job->thread) {
        delete job;
        return nullptr;
    }
    return job;
}

void WaitHelperThread(void* started) {
    auto* job = static_cast<HelperJob*>(started);
    WaitForSingleObject(job->thread, INFINITE);
    CloseHandle(job->thread);
    delete job;
}
